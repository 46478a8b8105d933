#include "State/SeededContent.h"

#include <cstring>

namespace orvex::service {
namespace {

// SplitMix64: a cheap, well-mixed function of a 64-bit counter.
std::uint64_t mix(std::uint64_t value) {
  value += 0x9e3779b97f4a7c15ULL;
  value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
  value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
  return value ^ (value >> 31);
}

// The 8 bytes of word `index`, least significant first (independent of the host's byte order).
void wordBytes(std::uint64_t seed, std::uint64_t index, unsigned char (&bytes)[8]) {
  std::uint64_t word = mix(seed * 0xd1342543de82ef95ULL + index);
  for (unsigned char& byte : bytes) {
    byte = static_cast<unsigned char>(word & 0xff);
    word >>= 8;
  }
}

} // namespace

void fillSeeded(std::uint64_t seed, std::uint64_t offset, char* out, std::size_t length) {
  while (length > 0) {
    unsigned char bytes[8];
    wordBytes(seed, offset / 8, bytes);
    std::size_t skip = offset % 8;
    std::size_t take = std::min<std::size_t>(8 - skip, length);
    std::memcpy(out, bytes + skip, take);
    out += take;
    offset += take;
    length -= take;
  }
}

std::string seededBytes(std::uint64_t seed, std::uint64_t offset, std::size_t length) {
  std::string bytes(length, '\0');
  fillSeeded(seed, offset, bytes.data(), length);
  return bytes;
}

} // namespace orvex::service
