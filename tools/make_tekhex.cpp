// make-tekhex: writes a sample firmware image in Extended Tektronix Hex.
//
//   make-tekhex <output> <data-records> [<seed>]
//
// Each data record carries 32 pseudo-random bytes at consecutive addresses; a termination record
// ends the image. Every record is "%", two digits of length (the characters after the "%"), one
// digit of type, two digits of checksum (the sum of the values of every other hex digit of the
// record, modulo 256), the address's digit count, the address and the data, then CR LF.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kBytesPerRecord = 32;
constexpr unsigned kLoadAddress = 0x00100000;

std::string hex(unsigned long value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    out[static_cast<size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return out;
}

// The address field of a record's body: its digit count (8) and the address. Built by appending:
// prefixing a temporary string ("8" + hex(...)) makes GCC 12 at -O3 warn of an overlapping copy
// that cannot happen.
std::string addressField(unsigned address) {
  std::string field = "8";
  field += hex(address, 8);
  return field;
}

int digitValue(char c) {
  return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Builds one record around its type and body (address length, address and data).
std::string record(int type, const std::string& body) {
  int length = 1 + 2 + 2 + static_cast<int>(body.size());
  std::string head = hex(static_cast<unsigned>(length), 2) + hex(static_cast<unsigned>(type), 1);
  int sum = 0;
  for (char c : head + body) {
    sum += digitValue(c);
  }
  return "%" + head + hex(static_cast<unsigned>(sum % 256), 2) + body + "\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s <output> <data-records> [<seed>]\n", argv[0]);
    return 2;
  }
  long records = std::strtol(argv[2], nullptr, 10);
  unsigned long state = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 1;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr || records < 0) {
    std::fprintf(stderr, "make-tekhex: cannot write %s\n", argv[1]);
    return 1;
  }
  unsigned address = kLoadAddress;
  for (long r = 0; r < records; ++r) {
    std::string body = addressField(address);
    for (int i = 0; i < kBytesPerRecord; ++i) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      body += hex((state >> 33) & 0xFF, 2);
    }
    std::fputs(record(6, body).c_str(), out);
    address += kBytesPerRecord;
  }
  std::fputs(record(8, addressField(kLoadAddress)).c_str(), out);
  return std::fclose(out) == 0 ? 0 : 1;
}
