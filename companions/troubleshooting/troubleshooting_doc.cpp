// troubleshooting-doc: renders the troubleshooting table for the documentation, so that the
// manual page and the Windows README say what the guide says.
//
//   troubleshooting-doc scdoc|text linux|windows [--crlf]
//
// scdoc: a "# TROUBLESHOOTING" section in scdoc's markup, to be placed in a manual page's
// source. text: the same as plain text wrapped at 76 columns, with CR LF line ends if asked.
#include <cstdio>
#include <cstring>
#include <string>

#include "troubleshooting.h"

namespace {

constexpr size_t kTextWidth = 76;

// The message as a person reads it: what varies is written as "<...>" or "<n>".
std::string shownMessage(const std::string& pattern) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() &&
        (pattern[i + 1] == 's' || pattern[i + 1] == 'd')) {
      out += pattern[i + 1] == 's' ? "<...>" : "<n>";
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

std::string scdocEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '*' || c == '_') {
      out += '\\';
    }
    out += c;
  }
  return out;
}

// |text| in lines of at most kTextWidth columns, each after |first| or |rest| as its indent.
std::string wrapped(const std::string& text, const std::string& first, const std::string& rest,
                    const char* newline) {
  std::string out;
  std::string line = first;
  size_t start = 0;
  bool empty = true;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) {
      continue;
    }
    if (!empty && line.size() + 1 + word.size() > kTextWidth) {
      out += line + newline;
      line = rest;
      empty = true;
    }
    line += (empty ? "" : " ") + word;
    empty = false;
  }
  return out + line + newline;
}

void renderScdoc(Platform platform) {
  std::printf("# TROUBLESHOOTING\n\n");
  std::printf(
      "Each error message of *nodletflash*, what it means, its likely causes and what to do.\n"
      "*nodletflash-guide* shows the same after an error.\n\n");
  for (const Trouble& trouble : troubleTable()) {
    std::printf("*%s*\n", scdocEscaped(shownMessage(trouble.message)).c_str());
    std::printf("\t%s\n\n", scdocEscaped(trouble.meaning).c_str());
    for (const Cause& cause : causesFor(trouble, platform)) {
      std::printf("\t- %s\n", scdocEscaped(cause.what).c_str());
      std::printf("\t  _What to do:_ %s\n", scdocEscaped(cause.todo).c_str());
    }
    std::printf("\n");
  }
}

void renderText(Platform platform, const char* newline) {
  std::printf("TROUBLESHOOTING%s%s", newline, newline);
  std::printf("%s", wrapped("Each error message of nodletflash, what it means, its likely causes "
                            "and what to do. nodletflash-guide shows the same after an error.",
                            "", "", newline)
                        .c_str());
  for (const Trouble& trouble : troubleTable()) {
    std::printf("%s", newline);
    std::printf("%s", wrapped(shownMessage(trouble.message), "", "", newline).c_str());
    std::printf("%s", wrapped(trouble.meaning, "  ", "  ", newline).c_str());
    for (const Cause& cause : causesFor(trouble, platform)) {
      std::printf("%s", wrapped(cause.what, "  - ", "    ", newline).c_str());
      std::printf("%s", wrapped("What to do: " + cause.todo, "    ", "    ", newline).c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool crlf = argc == 4 && std::strcmp(argv[3], "--crlf") == 0;
  if ((argc != 3 && !crlf) ||
      (std::strcmp(argv[1], "scdoc") != 0 && std::strcmp(argv[1], "text") != 0) ||
      (std::strcmp(argv[2], "linux") != 0 && std::strcmp(argv[2], "windows") != 0)) {
    std::fprintf(stderr, "usage: troubleshooting-doc scdoc|text linux|windows [--crlf]\n");
    return 2;
  }
  Platform platform = std::strcmp(argv[2], "linux") == 0 ? Platform::kLinux : Platform::kWindows;
  if (std::strcmp(argv[1], "scdoc") == 0) {
    renderScdoc(platform);
  } else {
    renderText(platform, crlf ? "\r\n" : "\n");
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
