#include "troubleshooting.h"

namespace {

const Cause kNotAFirmwareFile{
    "The file is not the firmware image: images are text files of about a hundred kilobytes.",
    "Check that you picked the right file; nodletflash-check tells what the file holds."};

// The download stopped at a character: the start of the download reached the module, and the
// characters before that one (none when it was the file's first) went out.
const Cause kStoppedInTheDownload{
    "Whatever the cause, the download stopped before its end: the module's firmware may be "
    "erased, and it holds at most part of the new one, so it may not start until it is flashed "
    "completely.",
    "Switch the hand off and on again, and flash the same module again with the same file."};

std::vector<Trouble> makeTable() {
  std::vector<Trouble> table;

  table.push_back({"ERRORusage: %s <nodletNumber> <filename>",
                   "The tool was not given exactly two words after its name. Nothing was done.",
                   {{"The command line has too few or too many words, e.g. a file path with spaces "
                     "that is not quoted.",
                     "Give the node number, then the file, and quote a path with spaces: "
                     "nodletflash 12 \"new firmware.hex\"."}},
                   {}});

  table.push_back(
      {"ERRORInvalid nodlet ID: must be between 11 and 14.",
       "The node number is not one of the hand's modules. Nothing was done.",
       {{"The first word is not 11, 12, 13 or 14 (Finger 1, Finger 2, Finger 3, Spread), "
         "or the node number and the file were given the wrong way round.",
         "Give the module's node number first, then the file."}},
       {}});

  table.push_back(
      {"ERRORError opening firmware file %s.",
       "The firmware file could not be opened. The hand was not touched.",
       {{"There is no file at that path (a relative path starts from the current directory), "
         "or you may not read it.",
         "Check the path with ls -l, or give the full path."}},
       {{"There is no file at that path (a relative path starts from the current folder), "
         "another program holds it locked, or you may not read it.",
         "Check the path in Explorer, or give the full path in quotes."}}});

  table.push_back({"ERRORFirmware file %s is not a regular file.",
                   "The path names something other than a file. The hand was not touched.",
                   {{"The path names a folder, a device or a pipe.",
                     "Give the path of the firmware file itself."}},
                   {}});

  table.push_back({"ERRORError finding the size of firmware file %s.",
                   "The firmware file's size could not be found. The hand was not touched.",
                   {{"The path names a folder, a device or a pipe rather than a file.",
                     "Give the path of the firmware file itself."}},
                   {}});

  table.push_back({"ERRORFirmware file %s is too large (2 GiB or more).",
                   "The file is far too large for a firmware image. The hand was not touched.",
                   {kNotAFirmwareFile},
                   {}});

  table.push_back(
      {"ERRORNot enough memory to load firmware file %s.",
       "The file could not be held in memory. The hand was not touched.",
       {kNotAFirmwareFile, {"The computer is out of memory.", "Close other programs and retry."}},
       {}});

  table.push_back({"ERRORError reading firmware file %s.",
                   "The firmware file could not be read whole. The hand was not touched.",
                   {{"The file lies on a removable disk or a network share that went away, or the "
                     "disk has a fault.",
                     "Copy the file to a local disk and try again."}},
                   {}});

  table.push_back(
      {"ERRORFirmware file %s contains a NUL byte.",
       "The file holds a zero byte, which no firmware image has. The hand was not touched.",
       {{"The file is damaged (an interrupted copy can leave zeros) or is a binary or "
         "compressed file rather than the text image.",
         "Get the firmware file again from where it came from; nodletflash-check shows "
         "where the damage starts."}},
       {}});

  table.push_back(
      {"ERRORFirmware file %s, line %d, column %d: the record is interrupted by byte %s, which "
       "cannot be sent.",
       "A record of the file is interrupted by a character that cannot be sent (a space, a "
       "control character or a byte above 127), so the module would receive it cut short. The "
       "hand was not touched.",
       {{"The file was edited, or converted by a program that changed its characters "
         "(a word processor, a mail program, another character set).",
         "Get the firmware file again from where it came from; nodletflash-check names "
         "the line and the column."}},
       {}});

  table.push_back(
      {"ERRORError initializing CAN- ensure adapter is properly connected and PEAK CAN "
       "drivers are installed.",
       "The CAN adapter could not be opened. The hand was not touched.",
       {{"The adapter is not plugged in, so there is no CAN interface (ip link show type can "
         "lists none).",
         "Plug the adapter in; ip -details link show can0 should then show it."},
        {"The tool may not control the interface: it runs without CAP_NET_ADMIN and not as "
         "root (nodletflash-check reports the tool's capabilities).",
         "Grant the capabilities once: sudo setcap cap_net_admin,cap_sys_nice+ep "
         "\"$(command -v nodletflash)\", or run it as root."},
        {"The interface is up at another bit rate than 1 Mbit/s: something else runs this "
         "bus, and the tool does not change a bus it did not set up.",
         "See ip -details link show can0. If the bus is yours to use, sudo ip link set can0 "
         "down; the tool then brings it up at 1 Mbit/s itself."},
        {"The adapter is driven by the vendor's character-device driver (pcan, /dev/pcan*) "
         "instead of the kernel's peak_usb, so it has no network interface.",
         "Unload the vendor's driver and load the kernel's: sudo rmmod pcan && sudo modprobe "
         "peak_usb (or reinstall the vendor's driver built in its network-interface mode)."},
        {"Another run of nodletflash is using the adapter.",
         "Let that run finish; only one run at a time can use the bus."},
        {"The tool chose another interface than the adapter's: it takes the PEAK USB interface "
         "with the lowest index, or can0 when there is none.",
         "nodletflash-check tells which interface the tool would use, and why."}},
       {{"PCANBasic.dll is missing or is the 32-bit library. The tool loads the 64-bit "
         "PCANBasic.dll from its own folder or from the Windows system folder; the current "
         "folder is not searched.",
         "Install PEAK's driver package, which puts the 64-bit PCANBasic.dll into the system "
         "folder, or copy the 64-bit PCANBasic.dll next to nodletflash.exe."},
        {"The adapter is not plugged in, or Windows has no driver for it (Device Manager shows "
         "an unknown device).",
         "Plug the adapter in and install PEAK's device driver."},
        {"Another program has the adapter's channel open (PCAN-View, another CAN tool, a "
         "second run of nodletflash).",
         "Close it and try again."}}});

  table.push_back(
      {"ERRORError getting priority class: %d. Aborting.",
       "The tool could not read back its scheduling priority (the number is the system's "
       "error code). The hand was not touched.",
       {{"The system refused to report the process's nice value.",
         "Try again; if it happens again, send the log to the hand's maker."}},
       {{"Windows refused to report the process's priority class.",
         "Try again; if it happens again, send the log to the hand's maker."}}});

  table.push_back(
      {"ERRORPriority class is not 0x80. Aborting.",
       "The tool could not raise its priority, which keeps the download in step with the "
       "module. The hand was not touched.",
       {{"The tool runs without CAP_SYS_NICE and not as root, and the limit on nice values "
         "(RLIMIT_NICE) is the default, so it may not go below nice 0.",
         "Grant the capabilities once: sudo setcap cap_net_admin,cap_sys_nice+ep "
         "\"$(command -v nodletflash)\", or run it as root, or allow the user nice -20 with a "
         "line \"USER - nice -20\" in /etc/security/limits.conf."}},
       {{"Windows did not give the process the high priority class: a policy or a job object "
         "(set up by some remote-desktop, sandbox or endpoint-protection software) limits it.",
         "Run nodletflash from an ordinary console window, outside such software."}}});

  table.push_back(
      {"ERROR getting thread priority: %d. Aborting.",
       "The tool could not read back its thread's priority (the number is the system's error "
       "code). The hand was not touched.",
       {{"The system refused to report the thread's nice value.",
         "Try again; if it happens again, send the log to the hand's maker."}},
       {{"Windows refused to report the thread's priority.",
         "Try again; if it happens again, send the log to the hand's maker."}}});

  table.push_back(
      {"ERRORThread priority is not 0x0F. Aborting.",
       "The tool could not give its thread the highest priority. The hand was not touched.",
       {{"The process was started at nice -10 or below, but may not reach nice -20 (its "
         "RLIMIT_NICE stops short of it).",
         "Grant CAP_SYS_NICE (sudo setcap cap_net_admin,cap_sys_nice+ep \"$(command -v "
         "nodletflash)\"), or allow nice -20 in /etc/security/limits.conf."}},
       {{"Windows did not give the thread time-critical priority: a policy or a job object "
         "limits it.",
         "Run nodletflash from an ordinary console window, outside such software."}}});

  table.push_back(
      {"ERRORTimeout occured while waiting for nodlet to be powered off. Please try again and "
       "power off your hand more quickly.",
       "The module kept answering for about 50 seconds after the instruction to switch the "
       "hand off. The module was not changed.",
       {{"The hand was not switched off in time.",
         "Switch it off as soon as the instruction appears: the guide counts the seconds "
         "for you."},
        {"Something else on the bus keeps sending: any frame counts as the module's "
         "answer, so the tool never sees the hand go silent.",
         "With the hand off, nothing may talk on the bus: nodletflash-check lists what "
         "it hears (on Linux also candump can0). Disconnect the other device."},
        {"The switch does not cut the module's power: a second supply still feeds it.",
         "Switch off every supply of the hand."}},
       {}});

  table.push_back(
      {"ERRORError getting nodlet version to ensure nodlet is active. CAN Error. Aborting.",
       "The adapter refused to send the tool's query to the module. The module was not "
       "changed.",
       {{"The interface went down or bus-off, or the adapter was unplugged (ip -details "
         "-statistics link show can0 shows its state and error counters).",
         "Check the cable and the bus's termination (120 ohms at each end), replug the "
         "adapter, and try again."},
        {"No node acknowledges frames, so the adapter's queue fills: the hand is not "
         "connected or not powered.",
         "Connect the hand and switch it on before you start."}},
       {{"The adapter was unplugged, or its bus went bus-off (PCAN-View shows the bus state).",
         "Check the cable and the bus's termination (120 ohms at each end), replug the "
         "adapter, and try again."},
        {"No node acknowledges frames, so the adapter's queue fills: the hand is not "
         "connected or not powered.",
         "Connect the hand and switch it on before you start."}}});

  table.push_back(
      {"ERRORTimeout occured while attempting to connect to nodlet. Please ensure that your "
       "hand is connected and powered on. If your hand is powered on, please try again and "
       "power your hand on earlier in the process.",
       "The module did not answer after the hand was switched off. The module was not "
       "changed.",
       {{"The hand was not switched back on in time: the tool gives up about 75 seconds "
         "after the instruction, sooner the longer the hand took to go off.",
         "Switch the hand off, wait 5 seconds and switch it on again: the guide says "
         "when."},
        {"The hand is not connected to the adapter, or has no power at all.",
         "Check the CAN cable, its connectors and termination, and the hand's supply."},
        {"The module does not start: an earlier download was interrupted or the module "
         "is faulty.",
         "Try again; if the module never answers, contact the hand's maker."}},
       {}});

  table.push_back(
      {"ERRORError resetting CAN connection: the adapter did not close and reopen the "
       "channel. Please check that the adapter is connected and try again.",
       "The adapter failed while the tool watched the power cycle. The module was not "
       "changed.",
       {{"The adapter was unplugged, or another program took the interface down or changed "
         "it while the tool used it.",
         "Replug the adapter, close other CAN programs and try again."}},
       {{"The adapter was unplugged, or its driver failed.",
         "Replug the adapter and try again."}}});

  table.push_back({"ERRORError resetting nodlet.",
                   "The adapter refused the frame that resets the module. The module was not "
                   "changed.",
                   {{"The adapter was unplugged or its bus went bus-off just after the "
                     "power cycle.",
                     "Check the cable and the termination, replug the adapter and try "
                     "again."}},
                   {}});

  table.push_back({"ERRORError signaling start of firmware download.",
                   "The adapter refused the frame that starts the download, so no character "
                   "of the file was sent. The module was reset and holds the firmware it had "
                   "before.",
                   {{"The adapter was unplugged or its bus went bus-off.",
                     "Check the cable and the termination, replug the adapter, then "
                     "flash the module again."}},
                   {}});

  table.push_back(
      {"ERRORError reading on CAN prior to writing line %d, count #%d, to the CAN Bus. Please "
       "reboot your hand and try the download again. If this problem persists please contact "
       "Velmora.",
       "The module stopped answering during the download.",
       {{"The hand lost power or the CAN cable came loose.",
         "Check the supply and the cable, then flash the module again."},
        {"The module stopped at a damaged record of the file.",
         "Check the file with nodletflash-check; get it again if it reports a problem."},
        {"The interface went bus-off (ip -details -statistics link show can0 shows it).",
         "Check the termination and that nothing else runs on the bus."},
        kStoppedInTheDownload},
       {{"The hand lost power or the CAN cable came loose.",
         "Check the supply and the cable, then flash the module again."},
        {"The module stopped at a damaged record of the file.",
         "Check the file with nodletflash-check; get it again if it reports a problem."},
        kStoppedInTheDownload}});

  table.push_back(
      {"ERRORError sending firmware byte, line #%d, count #%d. Please reboot your hand and try "
       "the download again. If this problem persists please contact Velmora",
       "The adapter refused a frame of the download.",
       {{"The adapter was unplugged, or the interface went down or bus-off.",
         "Replug the adapter; check the cable and the termination."},
        kStoppedInTheDownload},
       {{"The adapter was unplugged, or its bus went bus-off.",
         "Replug the adapter; check the cable and the termination."},
        kStoppedInTheDownload}});

  table.push_back(
      {"ERRORError closing CAN connection (most likely not a problem)",
       "Every character of the firmware was sent; only the adapter's final close failed.",
       {{"The adapter was unplugged, or the interface changed, at the very end.",
         "Switch the hand off and on: the module normally starts with its new firmware. "
         "If it does not, flash it again."}},
       {}});

  return table;
}

// Matches |line| from |at| against |pattern| from |p|.
bool matchFrom(const std::string& pattern, size_t p, const std::string& line, size_t at) {
  while (p < pattern.size()) {
    if (pattern[p] == '%' && p + 1 < pattern.size() && pattern[p + 1] == 's') {
      for (size_t end = line.size() + 1; end-- > at;) {
        if (matchFrom(pattern, p + 2, line, end)) {
          return true;
        }
      }
      return false;
    }
    if (pattern[p] == '%' && p + 1 < pattern.size() && pattern[p + 1] == 'd') {
      size_t end = at;
      if (end < line.size() && line[end] == '-') {
        ++end;
      }
      size_t digits = end;
      while (end < line.size() && line[end] >= '0' && line[end] <= '9') {
        ++end;
      }
      if (end == digits) {
        return false;
      }
      at = end;
      p += 2;
      continue;
    }
    if (at >= line.size() || line[at] != pattern[p]) {
      return false;
    }
    ++at;
    ++p;
  }
  return at == line.size();
}

}  // namespace

const std::vector<Trouble>& troubleTable() {
  static const std::vector<Trouble> table = makeTable();
  return table;
}

bool matchesMessage(const std::string& pattern, const std::string& line) {
  return matchFrom(pattern, 0, line, 0);
}

const Trouble* findTrouble(const std::string& line) {
  for (const Trouble& trouble : troubleTable()) {
    if (matchesMessage(trouble.message, line)) {
      return &trouble;
    }
  }
  return nullptr;
}

const std::vector<Cause>& causesFor(const Trouble& trouble, Platform platform) {
  // An entry whose causes are the same everywhere lists them once, as Linux's.
  if (platform == Platform::kWindows && !trouble.windowsCauses.empty()) {
    return trouble.windowsCauses;
  }
  return trouble.linuxCauses;
}

bool saysTheDownloadStopped(const Cause& cause) {
  return cause.what == kStoppedInTheDownload.what;
}

Platform thisPlatform() {
#ifdef _WIN32
  return Platform::kWindows;
#else
  return Platform::kLinux;
#endif
}
