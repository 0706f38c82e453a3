#include <windows.h>

#include <vector>

#include "record_file.h"

namespace {

std::wstring wide(const std::string& text) {
  int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring result(static_cast<size_t>(size > 0 ? size : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), size);
  result.resize(result.size() - 1);
  return result;
}

std::string narrow(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
  result.resize(result.size() - 1);
  return result;
}

// The system's words for the last error.
std::string systemWords() {
  DWORD code = GetLastError();
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = "error " + std::to_string(code);
  if (length > 0 && text != nullptr) {
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L'.' || message.back() == L' ')) {
      message.pop_back();
    }
    words = narrow(message);
  }
  if (text != nullptr) {
    LocalFree(text);
  }
  return words;
}

// Writes |bytes| into the file |temporary|, made with |disposition|, and moves it into the place
// of |path|, both through to the disk: the move replaces the name itself, so a link at |path| is
// replaced, not written through. |temporary| is removed when it fails.
bool writeAndReplace(const std::string& temporary, DWORD disposition, const std::string& path,
                     const std::string& bytes, std::string* why) {
  HANDLE file = CreateFileW(wide(temporary).c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *why = temporary + ": " + systemWords();
    return false;
  }
  DWORD wrote = 0;
  bool written = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
                 wrote == bytes.size() && FlushFileBuffers(file);
  if (!written) {
    *why = temporary + ": " + systemWords();
    CloseHandle(file);
    DeleteFileW(wide(temporary).c_str());
    return false;
  }
  CloseHandle(file);
  if (!MoveFileExW(wide(temporary).c_str(), wide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *why = path + ": " + systemWords();
    DeleteFileW(wide(temporary).c_str());
    return false;
  }
  return true;
}

bool makeFolders(const std::string& folder, std::string* why) {
  for (size_t at = 3; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '\\' && folder[at] != '/') {
      continue;
    }
    std::string part = folder.substr(0, at);
    if (!CreateDirectoryW(wide(part).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      *why = part + ": " + systemWords();
      return false;
    }
  }
  return true;
}

// The lock beside the record, held while the object lives.
class FileLock {
 public:
  FileLock(const std::string& path, std::string* why) {
    handle_ = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      *why = path + ": " + systemWords();
      return;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      *why = path + ": " + systemWords();
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }
  ~FileLock() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);  // and with it the lock
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::string stateFolder(std::string* why) {
  DWORD size = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (size > 1) {
    std::wstring value(size, L'\0');
    DWORD got = GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), size);
    if (got > 0 && got < size) {
      value.resize(got);
      return narrow(value) + "\\nodletflash\\";
    }
  }
  *why = "LOCALAPPDATA names no folder";
  return "";
}

bool readRecordFile(const std::string& path, std::string* text, bool* missing, std::string* why) {
  *missing = false;
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    *why = systemWords();
    return false;
  }
  text->clear();
  std::vector<char> buffer(8192);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      *why = systemWords();
      CloseHandle(file);
      return false;
    }
    if (got == 0) {
      break;
    }
    text->append(buffer.data(), got);
  }
  CloseHandle(file);
  return true;
}

bool updateRecordFile(const std::string& path,
                      const std::function<std::string(const std::string& current)>& update,
                      std::string* why) {
  size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && !makeFolders(path.substr(0, slash), why)) {
    return false;
  }
  FileLock lock(path + ".lock", why);
  if (!lock.held()) {
    return false;
  }
  std::string current;
  bool missing = false;
  std::string unread;
  if (!readRecordFile(path, &current, &missing, &unread)) {
    current.clear();
  }
  std::string text = update(current);
  // Only the holder of the lock writes this name: a file left by one that died is replaced.
  return writeAndReplace(path + ".new", CREATE_ALWAYS, path, text, why);
}

bool writeNewFile(const std::string& path, const std::string& bytes, std::string* why) {
  // A name of this process's own, made anew: never one that another program has put there.
  return writeAndReplace(path + ".new-" + std::to_string(GetCurrentProcessId()), CREATE_NEW, path,
                         bytes, why);
}
