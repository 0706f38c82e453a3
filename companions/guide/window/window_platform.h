// What the window needs of the operating system: a secret from its random source, the
// person's browser, and a folder only this user can read.
#pragma once

#include <string>

/// |bytes| bytes from the system's random source as lower-case hexadecimal. False when the
/// source cannot be read: the window must then not start.
bool randomHex(int bytes, std::string* hex);

/// Opens |url| in the person's default browser; false with |error| set when that cannot be
/// started. Does not wait for the browser.
bool openInBrowser(const std::string& url, std::string* error);

/// Creates a new folder that only this user may enter, for the files the page uploads; its
/// path, ending in the directory separator, in |path|.
bool makePrivateFolder(std::string* path, std::string* error);

/// Removes the folder made by makePrivateFolder and the files in it.
void removePrivateFolder(const std::string& path);
