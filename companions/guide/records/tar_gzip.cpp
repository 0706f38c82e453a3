#include "tar_gzip.h"

#include <zlib.h>

#include <array>
#include <cstring>

namespace {

constexpr size_t kBlock = 512;

// |value| in octal in the |width| bytes at |field|: digits padded with zeros, then a NUL. The
// callers keep |value| below 8 to the power of |width| - 1.
void octal(char* field, size_t width, uint64_t value) {
  field[width - 1] = '\0';
  for (size_t i = width - 1; i > 0; --i) {
    field[i - 1] = static_cast<char>('0' + (value & 7));
    value >>= 3;
  }
}

}  // namespace

bool tarArchive(const std::vector<ArchiveMember>& members, int64_t mtime, std::string* archive,
                std::string* why) {
  archive->clear();
  for (const ArchiveMember& member : members) {
    if (member.name.empty() || member.name.size() > 100) {
      *why = "the archive's name \"" + member.name + "\" is empty or longer than 100 bytes";
      return false;
    }
    // Eleven octal digits: below 8 GiB.
    if (member.bytes.size() >= (uint64_t{1} << 33)) {
      *why = member.name + " is too large for the archive";
      return false;
    }
    std::array<char, kBlock> header{};
    std::memcpy(header.data(), member.name.data(), member.name.size());
    octal(header.data() + 100, 8, 0600);                  // mode
    octal(header.data() + 108, 8, 0);                     // uid
    octal(header.data() + 116, 8, 0);                     // gid
    octal(header.data() + 124, 12, member.bytes.size());  // size
    octal(header.data() + 136, 12,
          static_cast<uint64_t>(mtime < 0 ? 0 : mtime) & ((uint64_t{1} << 33) - 1));
    header[156] = '0';                             // a regular file
    std::memcpy(header.data() + 257, "ustar", 6);  // magic, NUL ended
    std::memcpy(header.data() + 263, "00", 2);     // version
    // The checksum is reckoned with its own field as eight spaces.
    std::memset(header.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (char c : header) {
      sum += static_cast<unsigned char>(c);
    }
    octal(header.data() + 148, 7, sum);  // six digits, a NUL, then a space
    header[155] = ' ';
    archive->append(header.data(), header.size());
    archive->append(member.bytes);
    archive->append((kBlock - member.bytes.size() % kBlock) % kBlock, '\0');
  }
  // The end of the archive: two blocks of zeros.
  archive->append(2 * kBlock, '\0');
  return true;
}

bool gzipCompress(const std::string& bytes, std::string* compressed, std::string* why) {
  // One call of deflate: zlib counts in 32 bits.
  if (bytes.size() >= (uint64_t{1} << 31)) {
    *why = "the archive is too large to compress (2 GiB or more)";
    return false;
  }
  z_stream stream{};
  // A window of 15 bits, plus 16: a gzip header and trailer rather than zlib's.
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    *why = stream.msg != nullptr ? stream.msg : "zlib could not start compressing";
    return false;
  }
  compressed->assign(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(compressed->data());
  stream.avail_out = static_cast<uInt>(compressed->size());
  int result = deflate(&stream, Z_FINISH);
  if (result != Z_STREAM_END) {
    *why = stream.msg != nullptr ? stream.msg : "zlib could not compress the archive";
    deflateEnd(&stream);
    return false;
  }
  compressed->resize(stream.total_out);
  deflateEnd(&stream);
  return true;
}
