// The window's page: its HTML, style and script, built into the program from
// companions/guide/window/.
#pragma once

#include <string_view>

/// The page's file at |path| ("/", "/window.js", "/window.css", "/favicon.svg") and its media
/// type; false when there is none.
bool pageFile(std::string_view path, std::string_view* body, std::string_view* type);
