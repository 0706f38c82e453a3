// Whether another run of the tool holds the adapter channel now.
#pragma once

#include <string>
#include <vector>

#include "can/channel_lock.h"
#include "preflight.h"

/// The finding for |channel| whose lock |lockName| was seen in |state|.
void judgeChannelLock(const std::string& channel, const std::string& lockName,
                      ChannelLockState state, std::vector<Finding>* findings);

/// Probes the tool's lock for |channel| without taking it, and judges what it finds.
void checkChannelLock(const std::string& channel, std::vector<Finding>* findings);
