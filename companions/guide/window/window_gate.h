// Who may ask the window's server what: the rules every request passes before it is served.
#pragma once

#include <string>
#include <string_view>

/// What a request shows of itself, as it arrived.
struct WindowRequest {
  std::string method;  // "GET", "POST", ...
  std::string path;    // the target without its query
  std::string host;    // the Host header, or empty
  std::string origin;  // the Origin header, or empty
  std::string token;   // the token header, or empty
};

/// Why a request is refused; kAdmitted when it is not.
enum class Refusal {
  kAdmitted,
  kForeignHost,    // Host names another address: a page of another site reaching us by DNS
  kNoToken,        // no token, where one is needed
  kWrongToken,     // a token, but not this run's
  kNotByPost,      // an action asked by another method than POST
  kForeignOrigin,  // an action from a page that is not ours
};

/// The address the page was served on, and the run's token.
struct WindowGate {
  std::string hostPort;  // "127.0.0.1:PORT"
  std::string token;

  /// The rule for |request|: the page's own files need only the right Host; reading the
  /// run needs the token; an action needs the token, POST and our own Origin.
  Refusal admit(const WindowRequest& request) const;

  /// Whether |request| carries this run's token, whatever it asks for.
  bool showsToken(const WindowRequest& request) const;
};

/// True for the paths of the page's own files, served to anyone who names our address.
bool isPageFile(const std::string& path);

/// True for the paths that change something: they are only ever served to a POST.
bool isAction(const std::string& path);

/// A short word for |refusal|, for the log.
const char* refusalName(Refusal refusal);

/// The file name the page sent, percent-encoded: decoded and its length bounded. It is only
/// ever shown; the session refuses one that holds a control character.
std::string uploadedName(std::string_view encoded);
