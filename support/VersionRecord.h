#pragma once
// The program's version, embedded in its executable where FileVersionText finds it.
//
// Use once, at namespace scope in the program's main.cpp:
//   ORVANE_EMBED_VERSION_RECORD(1, 25, 8, 2);
//
// Record layout (28 bytes): 16 magic bytes, the four numbers as little-endian 16-bit
// words, and a 32-bit little-endian check value over the numbers. The magic is kept
// here only in masked form and unmasked at compile time inside the record, so the
// reader's own code (which unmasks it at run time) never contains the bytes of a record.
// "used" and "retain" keep the unreferenced record through optimisation, link-time
// optimisation and the linker's section garbage collection.

#include <cstddef>
#include <cstdint>

namespace orvane_version {

inline constexpr std::size_t kMagicSize = 16;
inline constexpr std::size_t kRecordSize = kMagicSize + 8 + 4;
inline constexpr unsigned char kMagicMask = 0xA5;
// "QelOrvaneVerRec" + 0x1A, each byte exclusive-or kMagicMask.
inline constexpr unsigned char kMaskedMagic[kMagicSize] = {
    'Q' ^ kMagicMask, 'e' ^ kMagicMask, 'l' ^ kMagicMask, 'O' ^ kMagicMask,
    'r' ^ kMagicMask, 'v' ^ kMagicMask, 'a' ^ kMagicMask, 'n' ^ kMagicMask,
    'e' ^ kMagicMask, 'V' ^ kMagicMask, 'e' ^ kMagicMask, 'r' ^ kMagicMask,
    'R' ^ kMagicMask, 'e' ^ kMagicMask, 'c' ^ kMagicMask, 0x1A ^ kMagicMask};

// FNV-1a over the eight number bytes, so that stray magic bytes followed by noise are
// not taken for a record.
constexpr std::uint32_t CheckValue(const unsigned char *numbers) {
  std::uint32_t hash = 2166136261u;
  for (int i = 0; i < 8; ++i) hash = (hash ^ numbers[i]) * 16777619u;
  return hash;
}

struct Record {
  unsigned char bytes[kRecordSize];
};

constexpr Record MakeRecord(std::uint16_t major, std::uint16_t minor, std::uint16_t release,
                            std::uint16_t build) {
  Record r{};
  for (std::size_t i = 0; i < kMagicSize; ++i)
    r.bytes[i] = static_cast<unsigned char>(kMaskedMagic[i] ^ kMagicMask);
  const std::uint16_t numbers[4] = {major, minor, release, build};
  for (int i = 0; i < 4; ++i) {
    r.bytes[kMagicSize + 2 * i] = static_cast<unsigned char>(numbers[i] & 0xFF);
    r.bytes[kMagicSize + 2 * i + 1] = static_cast<unsigned char>(numbers[i] >> 8);
  }
  const std::uint32_t check = CheckValue(r.bytes + kMagicSize);
  for (int i = 0; i < 4; ++i)
    r.bytes[kMagicSize + 8 + i] = static_cast<unsigned char>(check >> (8 * i));
  return r;
}

} // namespace orvane_version

#define ORVANE_EMBED_VERSION_RECORD(major, minor, release, build)                           \
  [[gnu::used, gnu::retain]] static constexpr ::orvane_version::Record orvaneEmbeddedVersionRecord =     \
      ::orvane_version::MakeRecord((major), (minor), (release), (build))
