#include "window_gate.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace {

// The page's icon is its own; a browser that asks for the usual one on its own is told there is
// none.
constexpr std::array<std::string_view, 5> kPageFiles = {"/", "/window.js", "/window.css",
                                                        "/favicon.svg", "/favicon.ico"};
constexpr std::array<std::string_view, 7> kActions = {
    "/start", "/cancel", "/retry", "/close", "/module", "/module/remove", "/leave"};

// Compares without leaving how far two tokens agree in the time it takes.
bool sameToken(const std::string& given, const std::string& expected) {
  if (given.size() != expected.size() || expected.empty()) {
    return false;
  }
  unsigned difference = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i]) ^ static_cast<unsigned char>(expected[i]);
  }
  return difference == 0;
}

// The longest name of an uploaded file that is kept, in bytes.
constexpr size_t kMaxNameBytes = 255;

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

bool isPageFile(const std::string& path) {
  for (std::string_view file : kPageFiles) {
    if (path == file) {
      return true;
    }
  }
  return false;
}

bool isAction(const std::string& path) {
  for (std::string_view action : kActions) {
    if (path == action) {
      return true;
    }
  }
  return false;
}

Refusal WindowGate::admit(const WindowRequest& request) const {
  if (request.host != hostPort) {
    return Refusal::kForeignHost;
  }
  if (isPageFile(request.path) && request.method == "GET") {
    return Refusal::kAdmitted;
  }
  if (request.token.empty()) {
    return Refusal::kNoToken;
  }
  if (!sameToken(request.token, token)) {
    return Refusal::kWrongToken;
  }
  if (isAction(request.path)) {
    if (request.method != "POST") {
      return Refusal::kNotByPost;
    }
    if (request.origin != "http://" + hostPort) {
      return Refusal::kForeignOrigin;
    }
  }
  return Refusal::kAdmitted;
}

bool WindowGate::showsToken(const WindowRequest& request) const {
  return sameToken(request.token, token);
}

const char* refusalName(Refusal refusal) {
  switch (refusal) {
    case Refusal::kAdmitted:
      return "admitted";
    case Refusal::kForeignHost:
      return "foreign Host";
    case Refusal::kNoToken:
      return "no token";
    case Refusal::kWrongToken:
      return "wrong token";
    case Refusal::kNotByPost:
      return "action not by POST";
    case Refusal::kForeignOrigin:
      return "foreign Origin";
  }
  return "refused";
}

std::string uploadedName(std::string_view encoded) {
  std::string name;
  for (size_t i = 0; i < encoded.size(); ++i) {
    char c = encoded[i];
    if (c == '%' && i + 2 < encoded.size()) {
      int high = hexValue(encoded[i + 1]);
      int low = hexValue(encoded[i + 2]);
      if (high >= 0 && low >= 0) {
        c = static_cast<char>(high * 16 + low);
        i += 2;
      }
    }
    name += c;
  }
  if (name.size() > kMaxNameBytes) {
    // Cut where no UTF-8 sequence is split.
    size_t cut = kMaxNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80) {
      --cut;
    }
    name.resize(cut);
  }
  return name.empty() ? std::string("(no name)") : name;
}
