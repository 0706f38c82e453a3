// The run: the command line checked, then every stage of a download in its fixed order.
#pragma once

class CanPort;
class Sleeper;
class SchedulingPlatform;

/// The parts a run is made of: the real adapter, clock and scheduler for the tool, stand-ins for
/// the virtual hand.
struct RunParts {
  CanPort* port = nullptr;
  Sleeper* sleeper = nullptr;
  SchedulingPlatform* scheduling = nullptr;
};

/// Runs the tool on its command line. Ends the process through endRun, except when the
/// scheduling set-up fails: then it returns -1, which the entry point returns.
int runFlash(int argc, char** argv, const RunParts& parts);
