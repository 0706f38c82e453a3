// SHA-256 of a firmware file, for the record of what this computer wrote to a module and for
// the feed's identity of the file.
#pragma once

#include <string>

/// The SHA-256 of |bytes|, as 64 lower-case hex digits.
std::string sha256Hex(const std::string& bytes);

/// The SHA-256 of the file at |path|, as 64 lower-case hex digits. Empty, with |error| set to
/// the reason (when |error| is not null), when the file cannot be read.
std::string sha256File(const std::string& path, std::string* error);
