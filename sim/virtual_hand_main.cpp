// virtual-hand: the virtual hand's nodlet and the person at its power switch, on a real CAN bus.
//
//   virtual-hand [--scenario=NAME] [--report=FILE] [--ready=FILE] [--interface=NAME]
//                <nodletNumber>
//
// Plays the same node and person models as nodletflash-sim, on the host's real clock, over a raw
// socket on a SocketCAN interface (can0 unless --interface names another), for a nodletflash run
// on the same bus: the node answers queries, goes off about a second after the first query and
// on again five seconds later, takes a reset and a start frame within its download window,
// answers the start frame and every data frame with one go-ahead frame, and reassembles and
// checks the records. The scenarios are nodletflash-sim's that need no fault of the adapter or
// the scheduler: normal, already-off, never-answers, never-powers-off, silent-from=N, no-go-ahead.
//
// It waits in ppoll() only, never spinning: it shares the machine with a tool that busy-polls.
// It runs until SIGTERM or SIGINT, then writes the report (--report, JSON, with the fields of
// nodletflash-sim's report that the node's side of the bus can tell) and exits 0. --ready names a
// file created once the socket is listening, so that a script can start the tool after it.
// The node number is read by the tool's rule. Exit status 2: bad command line; 1: the interface
// or the socket could not be set up.
//
// A node that is off does not acknowledge frames on a real bus, so the sender's controller keeps
// them queued; a virtual interface delivers them regardless, and the model ignores them.
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "app/node_number.h"
#include "frame_kind.h"
#include "hand_timing.h"
#include "node_model.h"
#include "person_model.h"
#include "scenario.h"
#include "sim_clock.h"
#include "sim_report.h"

namespace {

// The command line.
struct Options {
  Scenario scenario;
  std::string report;
  std::string ready;
  std::string interface = "can0";
  int node = 0;
};

// What crossed the bus, as the node's side of it saw it.
struct BusLog : FrameCounts {
  int interfaceDowns = 0;  // the interface was stopped under the socket
  int sendFailures = 0;    // node frames the interface refused (it was down)
};

// The scenarios that need no fault of the adapter or the scheduler, which a real bus cannot
// play.
constexpr const char* kBusScenarios =
    "normal, already-off, never-answers, never-powers-off, silent-from=N, no-go-ahead";

// Reads the command line into |options|; returns -1 to go on, else the status to exit with.
int parseOptions(int argc, char** argv, Options* options) {
  CLI::App app{"The virtual hand's nodlet and the person at its power switch, on a real CAN bus.",
               "virtual-hand"};
  std::string scenario = "normal";
  std::string node;
  app.add_option("--scenario", scenario, std::string("the scenario: ") + kBusScenarios)
      ->option_text("NAME")
      ->check([](const std::string& name) {
        Scenario s;
        bool onTheBus = parseScenario(name, &s) && s.adapterFault == AdapterFault::kNone &&
                        s.scheduling == SchedulingFault::kNone;
        return onTheBus ? std::string() : std::string("the scenarios: ") + kBusScenarios;
      });
  app.add_option("--report", options->report, "write the JSON report to FILE when stopped")
      ->option_text("FILE");
  app.add_option("--ready", options->ready, "create FILE once the socket is listening")
      ->option_text("FILE");
  app.add_option("--interface", options->interface, "the SocketCAN interface (default: can0)")
      ->option_text("NAME")
      ->check([](const std::string& name) {
        return !name.empty() && name.size() < IF_NAMESIZE ? std::string()
                                                          : std::string("not an interface name");
      });
  app.add_option("nodletNumber", node, "the node number, 11 to 14, read as the tool reads it")
      ->required()
      ->check([](const std::string& text) {
        int ignored = 0;
        return parseNodeNumber(text.c_str(), &ignored) ? std::string()
                                                       : std::string("must be 11 to 14");
      });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }
  parseScenario(scenario, &options->scenario);
  parseNodeNumber(node.c_str(), &options->node);
  return -1;
}

// A raw socket on |interface|, non-blocking, that receives data frames only; -1 on failure.
int openBusSocket(const std::string& interface) {
  unsigned index = if_nametoindex(interface.c_str());
  if (index == 0) {
    return -1;
  }
  int fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
  if (fd < 0) {
    return -1;
  }
  can_err_mask_t noErrors = 0;
  can_filter dataOnly{0, CAN_RTR_FLAG};
  sockaddr_can address{};
  address.can_family = AF_CAN;
  address.can_ifindex = static_cast<int>(index);
  if (setsockopt(fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &noErrors, sizeof(noErrors)) != 0 ||
      setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, &dataOnly, sizeof(dataOnly)) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// SIGTERM and SIGINT as a readable descriptor; the signals themselves are blocked.
int openStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
    return -1;
  }
  return signalfd(-1, &set, SFD_CLOEXEC);
}

CanFrame fromSocket(const can_frame& in) {
  CanFrame frame{};
  bool extended = (in.can_id & CAN_EFF_FLAG) != 0;
  frame.identifier = in.can_id & (extended ? CAN_EFF_MASK : CAN_SFF_MASK);
  frame.type = extended ? 0x02 : 0x00;
  frame.length = in.len > CAN_MAX_DLEN ? CAN_MAX_DLEN : in.len;
  std::memcpy(frame.data, in.data, sizeof(frame.data));
  return frame;
}

can_frame toSocket(const CanFrame& frame) {
  can_frame out{};
  out.can_id = frame.identifier & CAN_SFF_MASK;
  out.len = frame.length > CAN_MAX_DLEN ? CAN_MAX_DLEN : frame.length;
  std::memcpy(out.data, frame.data, sizeof(out.data));
  return out;
}

// The node, the person and the bus between them and the socket.
class VirtualHand {
 public:
  VirtualHand(const Options& options, int socket)
      : socket_(socket),
        node_(options.node, options.scenario.behaviour),
        person_(options.scenario.person) {
    if (options.scenario.handOnAtStart) {
      node_.poweredSinceLongAgo(clock_.now());
      ++log_.powerOns;
    }
  }

  /// The next moment the hand acts by itself; kNever when it only waits for frames.
  SimTime nextEventAt() const {
    SimTime next = person_.nextActionAt();
    if (node_.hasOutgoing() && node_.outgoingReadyAt() < next) {
      next = node_.outgoingReadyAt();
    }
    return next;
  }

  SimTime now() { return clock_.now(); }

  /// Does what is due: the person's switch actions, then the node's frames.
  void actUntil(SimTime now) {
    while (person_.nextActionAt() <= now) {
      SimTime at = person_.nextActionAt();
      switchHand(person_.act(), at);
    }
    while (node_.hasOutgoing() && node_.outgoingReadyAt() <= now) {
      can_frame out = toSocket(node_.outgoingFrame());
      if (send(socket_, &out, sizeof(out), MSG_DONTWAIT) != static_cast<ssize_t>(sizeof(out))) {
        ++log_.sendFailures;
      }
      node_.popOutgoing();
    }
  }

  /// Takes every frame waiting on the socket.
  void receiveAll() {
    while (true) {
      can_frame in;
      ssize_t got = recv(socket_, &in, sizeof(in), MSG_DONTWAIT);
      if (got < 0 && errno == ENETDOWN) {
        ++log_.interfaceDowns;  // reported once per stop; the socket works again after a start
        continue;
      }
      if (got != static_cast<ssize_t>(sizeof(in))) {
        return;
      }
      CanFrame frame = fromSocket(in);
      SimTime now = clock_.now();
      actUntil(now);
      count(frame, now);
      node_.receive(frame, now);
    }
  }

  void writeReport(std::FILE* out, const std::string& scenario, const std::string& interface) {
    Report report = startReport(scenario, "real", log_);
    report["interface"] = interface;
    report["interface_downs"] = log_.interfaceDowns;
    report["send_failures"] = log_.sendFailures;
    SimTime now = clock_.now();
    finishReport(out, std::move(report), node_, now, now);
  }

 private:
  void switchHand(bool on, SimTime at) {
    if (on == node_.powered()) {
      return;
    }
    if (on) {
      node_.powerOn(at);
      ++log_.powerOns;
    } else {
      node_.powerOff();
      ++log_.powerOffs;
    }
  }

  void count(const CanFrame& frame, SimTime now) {
    if (log_.count(frame) == FrameKind::kQuery) {
      person_.onQuery(now);
    }
  }

  int socket_;
  RealClock clock_;
  NodeModel node_;
  PersonModel person_;
  BusLog log_;
};

// Waits for frames, the hand's own next action or a stop signal, whichever comes first.
void run(VirtualHand& hand, int socket, int stop) {
  pollfd fds[2] = {{socket, POLLIN, 0}, {stop, POLLIN, 0}};
  while (true) {
    SimTime now = hand.now();
    hand.actUntil(now);
    SimTime next = hand.nextEventAt();
    timespec wait{};
    timespec* timeout = nullptr;
    if (next != kNever) {
      SimTime span = next > now ? next - now : 0;
      wait.tv_sec = static_cast<time_t>(span / kSecond);
      wait.tv_nsec = static_cast<long>(span % kSecond) * 1000;
      timeout = &wait;
    }
    if (ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR) {
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    if (fds[0].revents != 0) {
      hand.receiveAll();
    }
  }
}

// The virtual hand's whole life: its options, the bus until it is stopped, its report.
int serve(int argc, char** argv) {
  Options options;
  int usage = parseOptions(argc, argv, &options);
  if (usage >= 0) {
    return usage;
  }
  int stop = openStopSignals();
  int socket = openBusSocket(options.interface);
  if (stop < 0 || socket < 0) {
    std::fprintf(stderr, "virtual-hand: cannot listen on %s: %s\n", options.interface.c_str(),
                 std::strerror(errno));
    return 1;
  }
  VirtualHand hand(options, socket);
  if (!options.ready.empty()) {
    if (std::FILE* ready = std::fopen(options.ready.c_str(), "w")) {
      std::fclose(ready);
    }
  }
  run(hand, socket, stop);

  if (!options.report.empty()) {
    std::FILE* out = std::fopen(options.report.c_str(), "w");
    if (out == nullptr) {
      std::fprintf(stderr, "virtual-hand: cannot write %s\n", options.report.c_str());
      return 1;
    }
    hand.writeReport(out, options.scenario.name, options.interface);
    std::fclose(out);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return serve(argc, argv);
  } catch (const std::exception& error) {
    // Out of memory, or a fault of this program: the guest's test sees the status.
    std::fprintf(stderr, "virtual-hand: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "virtual-hand: unexpected failure\n");
  }
  return 1;
}
