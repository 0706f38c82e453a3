#include <unistd.h>

#include <chrono>
#include <vector>

#include "interface_state.h"
#include "subprocess.h"

namespace {

// How long ip is given: it answers at once, unless the system is wedged.
constexpr int kBoundMs = 5000;

// ip where Debian and other Linux systems install it; PATH is not searched.
std::string ipProgram() {
  for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (access(path, X_OK) == 0) {
      return path;
    }
  }
  return "";
}

}  // namespace

std::string interfaceStateText() {
  std::string ip = ipProgram();
  if (ip.empty()) {
    return "This computer has no ip program (iproute2) in /usr/sbin, /sbin, /usr/bin or /bin: the "
           "interfaces' state is not known.\n";
  }
  std::vector<std::string> argv{ip, "-details", "-statistics", "link"};
  Subprocess child;
  std::string error;
  if (!child.start(argv, &error)) {
    return ip + " could not be started: " + error + "\n";
  }
  std::string out;
  std::string err;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() < until) {
    ChildEvent event = child.wait(100);
    if (event.kind == ChildEvent::kData) {
      (event.stream == ChildStream::kOut ? out : err) += event.bytes;
    }
    closed = event.kind == ChildEvent::kClosed;
  }
  if (!closed) {
    child.kill();
    child.finish();
    return "$ ip -details -statistics link\n" + out + err + "\n(" + ip + " did not end within " +
           std::to_string(kBoundMs / 1000) + " s and was stopped: what it wrote is above)\n";
  }
  int status = child.finish();
  std::string text = "$ ip -details -statistics link\n" + out + err;
  if (status != 0) {
    text += "(" + ip + " ended with status " + std::to_string(status) + ")\n";
  }
  return text;
}
