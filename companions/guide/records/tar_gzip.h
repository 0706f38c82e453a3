// A gzip-compressed tar archive (POSIX ustar) made in memory: the support bundle's format, which
// every system that support works on opens (tar -xzf, or an archive program on Windows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// One regular file of the archive.
struct ArchiveMember {
  std::string name;   // its path inside the archive, '/'-separated, at most 100 bytes
  std::string bytes;  // its content
};

/// |members| as a ustar archive, each file readable by its owner only (0600), dated |mtime|
/// (seconds since 1970), owned by no named user. False with |why| when a name does not fit.
bool tarArchive(const std::vector<ArchiveMember>& members, int64_t mtime, std::string* archive,
                std::string* why);

/// |bytes| compressed as one gzip member. False with |why| (zlib's words) when it cannot be.
bool gzipCompress(const std::string& bytes, std::string* compressed, std::string* why);
