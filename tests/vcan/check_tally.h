// The guest programs' checks, printed one line each as "ok - NAME" or "not ok - NAME: DETAIL".
#pragma once

#include <cstdio>
#include <string>

/// Tally of the checks run so far.
struct Tally {
  int passed = 0;
  int failed = 0;
};

inline void check(Tally& tally, bool good, const char* name, const std::string& detail = "") {
  if (good) {
    ++tally.passed;
    std::printf("ok - %s\n", name);
  } else {
    ++tally.failed;
    std::printf("not ok - %s: %s\n", name, detail.c_str());
  }
  std::fflush(stdout);
}
