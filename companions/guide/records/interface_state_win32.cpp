#include "interface_state.h"

std::string interfaceStateText() {
  return "This computer runs Windows: it has no ip program, and the PEAK adapter's state is not "
         "read for the bundle (nodletflash-check's findings, in computer-checks.json, tell what "
         "the adapter's library answered).\n";
}
