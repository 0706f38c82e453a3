// What the window needs of the operating system: a secret from its random source, the
// person's browser, and a folder only this user can read.
#pragma once

#include <string>

/// |bytes| bytes from the system's random source as lower-case hexadecimal. False when the
/// source cannot be read: the window must then not start.
bool randomHex(int bytes, std::string* hex);

/// Opens |target| (a file or an address) in the person's default browser; false with |error|
/// set when that cannot be started. Waits neither for the browser nor for the program that
/// starts it (xdg-open, which may return only when the browser closes): see
/// browserOpenerFailed().
bool openInBrowser(const std::string& target, std::string* error);

/// Whether the program openInBrowser() started has ended and said it could not open a browser,
/// with |error| set; collects it once it has ended. Never waits.
bool browserOpenerFailed(std::string* error);

/// Writes |text| into a new file |path| that only this user may read (mode 0600 on POSIX, in
/// this user's own folder on Windows); false with |error| when it cannot be made new.
bool writePrivateFile(const std::string& path, const std::string& text, std::string* error);

/// Creates a new folder that only this user may enter, for the files the page uploads; its
/// path, ending in the directory separator, in |path|.
bool makePrivateFolder(std::string* path, std::string* error);

/// Removes the folder made by makePrivateFolder and the files in it.
void removePrivateFolder(const std::string& path);
