// How long the tool takes to download an image, from the node's power-on answer to its closing
// line, on a quiet bus at 1 Mbit/s.
#pragma once

#include <cstdint>

/// The tool's fixed sleeps: 100 ms, the last recycle, 100 ms after the node's answer; 1000 ms
/// between the reset and the start frame, 1 ms after it; 1000 ms after the last character.
constexpr int kFixedSleepMs = 100 + 100 + 1000 + 1 + 1000;

/// The bus time of one data frame and the node's go-ahead frame for it at 1 Mbit/s, in
/// microseconds, as the virtual hand's bus model counts the bits of the frames a download
/// exchanges (stuff bits, intermission and all). The host's and the node's own latencies come
/// on top, so the estimate is a lower bound of what a real run takes.
constexpr double kCharacterBusMicros = 115.5;

/// The estimate, in seconds, for |payloadChars| characters.
double estimateDownloadSeconds(int64_t payloadChars);
