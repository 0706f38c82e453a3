#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
#include <shellapi.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "window_platform.h"

namespace {

std::wstring wide(const std::string& text) {
  int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring result(static_cast<size_t>(size > 0 ? size : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), size);
  result.resize(result.size() - 1);
  return result;
}

}  // namespace

bool randomHex(int bytes, std::string* hex) {
  std::vector<unsigned char> buffer(static_cast<size_t>(bytes));
  if (BCryptGenRandom(nullptr, buffer.data(), static_cast<ULONG>(buffer.size()),
                      BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
    return false;
  }
  static const char kDigits[] = "0123456789abcdef";
  hex->clear();
  for (unsigned char value : buffer) {
    *hex += kDigits[value >> 4];
    *hex += kDigits[value & 0xf];
  }
  return true;
}

bool openInBrowser(const std::string& target, std::string* error) {
  HINSTANCE result =
      ShellExecuteW(nullptr, L"open", wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // ShellExecute reports success as a value above 32.
  if (reinterpret_cast<INT_PTR>(result) <= 32) {
    *error = "ShellExecute could not open a browser (error " +
             std::to_string(reinterpret_cast<INT_PTR>(result)) + ")";
    return false;
  }
  return true;
}

bool browserOpenerFailed(std::string* /*error*/) {
  // ShellExecute has said all it will say when it returns.
  return false;
}

bool writePrivateFile(const std::string& path, const std::string& text, std::string* error) {
  // In the user's own temporary folder, which other users cannot enter; CREATE_NEW never opens
  // a file that is there already.
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = path + ": cannot be made (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  DWORD written = 0;
  bool ok =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE &&
      written == text.size();
  CloseHandle(file);
  if (!ok) {
    *error = path + ": cannot be written (error " + std::to_string(GetLastError()) + ")";
  }
  return ok;
}

bool makePrivateFolder(std::string* path, std::string* error) {
  // The user's own temporary folder, which other users cannot enter; the name is new.
  std::error_code code;
  std::filesystem::path base = std::filesystem::temp_directory_path(code);
  if (code) {
    *error = "no temporary folder: " + code.message();
    return false;
  }
  std::string suffix;
  if (!randomHex(8, &suffix)) {
    *error = "the system's random source cannot be read";
    return false;
  }
  std::filesystem::path folder = base / ("nodletflash-window-" + suffix);
  if (!std::filesystem::create_directory(folder, code)) {
    *error = folder.string() + ": " + (code ? code.message() : std::string("already exists"));
    return false;
  }
  *path = folder.string() + "\\";
  return true;
}

void removePrivateFolder(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}
