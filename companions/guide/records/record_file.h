// The file of this computer's record of the modules on disk: where this user's state is kept,
// the file read whole, and the file replaced whole under a lock, so that two guides at once
// never leave it torn or lose each other's update.
#pragma once

#include <functional>
#include <string>

/// The folder for this user's state of nodletflash, ending in a separator:
/// $XDG_STATE_HOME/nodletflash/, else ~/.local/state/nodletflash/; on Windows
/// %LOCALAPPDATA%\nodletflash\. Empty, with |why| set, when the environment names none.
std::string stateFolder(std::string* why);

/// Reads the file at |path| whole into |text|. False when it cannot: |missing| set when it is
/// not there, else |why| says why (the system's words).
bool readRecordFile(const std::string& path, std::string* text, bool* missing, std::string* why);

/// Replaces the file at |path| with what |update| makes of its current text (empty when the
/// file is not there or cannot be read), creating its folder when needed. Holds a lock on
/// |path|.lock meanwhile; the new text goes to a temporary file in the same folder, is flushed
/// to the disk, and is renamed over the file. False with |why| when it cannot.
bool updateRecordFile(const std::string& path,
                      const std::function<std::string(const std::string& current)>& update,
                      std::string* why);

/// Writes |bytes| as the file at |path|, on POSIX systems for this user alone (0600), on Windows
/// with the folder's permissions: to a new temporary file in the same folder, flushed to the disk,
/// then renamed over |path|. Whatever stands at |path| (a symbolic link included) is replaced,
/// never written through. False with |why| when it cannot.
bool writeNewFile(const std::string& path, const std::string& bytes, std::string* why);
