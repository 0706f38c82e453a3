#include <windows.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "interruption.h"
#include "subprocess.h"

namespace {

// Counted by the console control handler; the process owns them.
std::atomic<long> g_interruptions{0};
HANDLE g_interrupt_event = nullptr;  // set on each interruption, to wake wait()
HANDLE g_handled_event = nullptr;    // set once the guide has written what it must

// Windows ends the process about 5 s after a console-close event reaches it; the log must be
// written by then.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI onConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      ++g_interruptions;
      SetEvent(g_interrupt_event);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      ++g_interruptions;
      SetEvent(g_interrupt_event);
      // Returning ends the process: wait until the guide has finished with the child.
      WaitForSingleObject(g_handled_event, kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

// Quotes |arg| so that the child's runtime reads it back as it is.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    return arg;
  }
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

std::string lastErrorText() {
  DWORD code = GetLastError();
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) {
    text[--length] = '\0';
  }
  return length > 0 ? std::string(text) : "error " + std::to_string(code);
}

// One of the child's output pipes, read with overlapped reads.
struct PipeReader {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped{};
  bool pending = false;
  char buffer[4096];
};

// Makes a pipe whose read end this process reads with overlapped calls and whose write end
// the child inherits.
bool makePipe(PipeReader* reader, HANDLE* childEnd) {
  static std::atomic<long> counter{0};
  char name[128];
  std::snprintf(name, sizeof(name), "\\\\.\\pipe\\nodletflash-guide-%lu-%ld", GetCurrentProcessId(),
                ++counter);
  reader->pipe = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 4096, 0, nullptr);
  if (reader->pipe == INVALID_HANDLE_VALUE) {
    return false;
  }
  reader->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  *childEnd = CreateFileA(name, GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  return *childEnd != INVALID_HANDLE_VALUE && reader->overlapped.hEvent != nullptr;
}

void closeReader(PipeReader* reader) {
  if (reader->pipe != INVALID_HANDLE_VALUE) {
    if (reader->pending) {
      CancelIo(reader->pipe);
      DWORD ignored = 0;
      GetOverlappedResult(reader->pipe, &reader->overlapped, &ignored, TRUE);
      reader->pending = false;
    }
    CloseHandle(reader->pipe);
    reader->pipe = INVALID_HANDLE_VALUE;
  }
}

}  // namespace

struct SubprocessState {
  PROCESS_INFORMATION process{};
  bool started = false;
  bool finished = false;
  int status = -1;
  long interruptionsSeen = 0;
  PipeReader readers[2];  // standard output, standard error
  HANDLE job = nullptr;   // the child and whatever it starts, to end them together
};

void catchInterruptions() {
  g_interrupt_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_handled_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void requestInterruption() {
  ++g_interruptions;
  if (g_interrupt_event != nullptr) {
    SetEvent(g_interrupt_event);
  }
}

bool wasInterrupted() {
  return g_interruptions.load() > 0;
}

void interruptionHandled() {
  if (g_handled_event != nullptr) {
    SetEvent(g_handled_event);
  }
}

Subprocess::Subprocess() : state_(std::make_unique<SubprocessState>()) {}

Subprocess::~Subprocess() {
  if (state_->started && !state_->finished) {
    kill();
    finish();
  }
  if (state_->job != nullptr) {
    CloseHandle(state_->job);
  }
  for (PipeReader& reader : state_->readers) {
    closeReader(&reader);
    if (reader.overlapped.hEvent != nullptr) {
      CloseHandle(reader.overlapped.hEvent);
    }
  }
}

bool Subprocess::start(const std::vector<std::string>& argv, std::string* error) {
  HANDLE childOut = INVALID_HANDLE_VALUE;
  HANDLE childErr = INVALID_HANDLE_VALUE;
  if (!makePipe(&state_->readers[0], &childOut) || !makePipe(&state_->readers[1], &childErr)) {
    *error = "cannot make a pipe: " + lastErrorText();
    if (childOut != INVALID_HANDLE_VALUE) {
      CloseHandle(childOut);
    }
    return false;
  }
  // The tool reads nothing: its standard input is the null device.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE childIn = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
  STARTUPINFOEXA startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = childIn;
  startup.StartupInfo.hStdOutput = childOut;
  startup.StartupInfo.hStdError = childErr;

  // These three handles alone reach the tool: no other handle of the guide's that happens to be
  // inheritable (a socket of the window's is, until it is marked) goes with them.
  HANDLE inherited[3];
  DWORD count = 0;
  for (HANDLE handle : {childIn, childOut, childErr}) {
    if (handle != INVALID_HANDLE_VALUE) {
      inherited[count++] = handle;
    }
  }
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> list(size > 0 ? size : 1);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
  bool listed = size > 0 && InitializeProcThreadAttributeList(attributes, 1, 0, &size) != FALSE;
  bool restricted = listed && UpdateProcThreadAttribute(
                                  attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  count * sizeof(HANDLE), nullptr, nullptr) != FALSE;

  std::string command;
  for (const std::string& arg : argv) {
    command += (command.empty() ? "" : " ") + quoted(arg);
  }
  // A process group of its own: the console's Ctrl-C reaches the guide, which passes it on.
  // Started suspended, so that it is in its job before it can start anything.
  DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED;
  if (restricted) {
    startup.lpAttributeList = attributes;
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  BOOL created = CreateProcessA(argv[0].c_str(), command.data(), nullptr, nullptr, TRUE, flags,
                                nullptr, nullptr, &startup.StartupInfo, &state_->process);
  if (created == FALSE && restricted) {
    // A system that does not take the list: every inheritable handle goes, and the window's
    // sockets are marked not inheritable as they are made.
    startup.StartupInfo.cb = sizeof(startup.StartupInfo);
    created = CreateProcessA(argv[0].c_str(), command.data(), nullptr, nullptr, TRUE,
                             CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr,
                             &startup.StartupInfo, &state_->process);
  }
  if (listed) {
    DeleteProcThreadAttributeList(attributes);
  }
  if (created == FALSE) {
    *error = lastErrorText();
  }
  CloseHandle(childOut);
  CloseHandle(childErr);
  if (childIn != INVALID_HANDLE_VALUE) {
    CloseHandle(childIn);
  }
  if (created == FALSE) {
    return false;
  }
  state_->job = CreateJobObjectA(nullptr, nullptr);
  if (state_->job != nullptr &&
      AssignProcessToJobObject(state_->job, state_->process.hProcess) == FALSE) {
    // Ended alone, then, as it would be without a job.
    CloseHandle(state_->job);
    state_->job = nullptr;
  }
  ResumeThread(state_->process.hThread);
  CloseHandle(state_->process.hThread);
  state_->started = true;
  return true;
}

ChildEvent Subprocess::wait(int timeoutMs) {
  ChildEvent event;
  for (;;) {
    long interruptions = g_interruptions.load();
    if (interruptions != state_->interruptionsSeen) {
      state_->interruptionsSeen = interruptions;
      event.kind = ChildEvent::kInterrupted;
      return event;
    }
    HANDLE handles[3];
    int which[3];
    DWORD count = 0;
    for (int i = 0; i < 2; ++i) {
      PipeReader& reader = state_->readers[i];
      if (reader.pipe == INVALID_HANDLE_VALUE) {
        continue;
      }
      if (!reader.pending) {
        ResetEvent(reader.overlapped.hEvent);
        if (ReadFile(reader.pipe, reader.buffer, sizeof(reader.buffer), nullptr,
                     &reader.overlapped) == FALSE &&
            GetLastError() != ERROR_IO_PENDING) {
          closeReader(&reader);  // the child closed its end
          continue;
        }
        reader.pending = true;
      }
      handles[count] = reader.overlapped.hEvent;
      which[count] = i;
      ++count;
    }
    if (count == 0) {
      // Both streams at their end is not the child's end: one that closed them and runs on is
      // waited for here, where a stop can still reach it.
      if (WaitForSingleObject(state_->process.hProcess, 0) == WAIT_OBJECT_0) {
        event.kind = ChildEvent::kClosed;
        return event;
      }
      handles[count] = state_->process.hProcess;
      which[count] = -2;
      ++count;
    }
    if (g_interrupt_event != nullptr) {
      handles[count] = g_interrupt_event;
      which[count] = -1;
      ++count;
    }
    DWORD ready = WaitForMultipleObjects(count, handles, FALSE, static_cast<DWORD>(timeoutMs));
    if (ready == WAIT_TIMEOUT) {
      event.kind = ChildEvent::kTimeout;
      return event;
    }
    if (ready >= WAIT_OBJECT_0 + count) {
      event.kind = ChildEvent::kClosed;
      return event;
    }
    int index = which[ready - WAIT_OBJECT_0];
    if (index < 0) {
      continue;  // an interruption, or the child's end: told at the top
    }
    PipeReader& reader = state_->readers[index];
    reader.pending = false;
    DWORD got = 0;
    if (GetOverlappedResult(reader.pipe, &reader.overlapped, &got, FALSE) == FALSE) {
      closeReader(&reader);
      continue;
    }
    if (got == 0) {
      continue;
    }
    event.kind = ChildEvent::kData;
    event.stream = index == 0 ? ChildStream::kOut : ChildStream::kErr;
    event.bytes.assign(reader.buffer, got);
    return event;
  }
}

void Subprocess::interrupt() {
  if (state_->started && !state_->finished) {
    // Ctrl-Break reaches the child's own process group; the tool ends on it.
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, state_->process.dwProcessId);
  }
}

void Subprocess::kill() {
  if (state_->started && !state_->finished) {
    if (state_->job == nullptr || TerminateJobObject(state_->job, 1) == FALSE) {
      TerminateProcess(state_->process.hProcess, 1);
    }
  }
}

int Subprocess::finish() {
  if (!state_->started || state_->finished) {
    return state_->status;
  }
  WaitForSingleObject(state_->process.hProcess, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(state_->process.hProcess, &code) != FALSE) {
    // Passed on as it is: a tool that returns -1 ends the guide with -1 too.
    state_->status = static_cast<int>(code);
  }
  CloseHandle(state_->process.hProcess);
  state_->finished = true;
  return state_->status;
}
