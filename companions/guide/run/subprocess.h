// A child program whose standard output and standard error are read as they arrive; a wait for
// it also reports the interruptions (interruption.h) that must be passed on to it.
#pragma once

#include <memory>
#include <string>
#include <vector>

/// Which of the child's streams some bytes came from.
enum class ChildStream { kOut, kErr };

/// What a wait for the child produced.
struct ChildEvent {
  enum Kind {
    kData,         // |bytes| arrived on |stream|
    kTimeout,      // nothing arrived within the time asked for
    kInterrupted,  // this process was asked to stop (Ctrl-C, terminal or console closed);
                   // reported once for each request
    kClosed,       // both streams reached their end: the child has ended or closed them
  };
  Kind kind = kTimeout;
  ChildStream stream = ChildStream::kOut;
  std::string bytes;
};

struct SubprocessState;

/// One running child program. Its standard input is the null device; its standard output and
/// standard error each come through a pipe.
class Subprocess {
 public:
  Subprocess();
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  /// Starts |argv| (argv[0] is the program's path; no search of PATH). False with |error| set
  /// when it cannot be started.
  bool start(const std::vector<std::string>& argv, std::string* error);

  /// Waits up to |timeoutMs| milliseconds for output, the streams' end or an interruption.
  ChildEvent wait(int timeoutMs);

  /// Passes an interruption on to the child, as the person's Ctrl-C would reach it.
  void interrupt();

  /// Ends the child at once; for a child that does not end after interrupt().
  void kill();

  /// Waits for the child to end and returns its exit status as the platform gives it; a child
  /// ended by a POSIX signal reads as 128 plus the signal's number, as a shell shows it.
  int finish();

 private:
  std::unique_ptr<SubprocessState> state_;
};
