// Base64 decoding and AES padding removal on arbitrary input: nothing may crash, and
// whatever decodes must encode and decode back to the same bytes.
#include "cloud/MyCrypt.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const std::string bytes = Base64Decode(input);
  if (!bytes.empty()) {
    if (Base64Decode(Base64Encode(bytes, false)) != bytes) std::abort();
    if (Base64Decode(Base64Encode(bytes, true)) != bytes) std::abort();
  }

  if (size > 0) {
    const auto mode = static_cast<TPaddingMode>(data[0] % 6);
    const std::string body = input.substr(1);
    const std::string plain = AESDecrypt("fuzz key", hashNone, body, mode, "", aes128);
    if (plain.size() > body.size()) std::abort();
    const std::string again = AESDecrypt("fuzz key", hashNone,
                                         AESEncrypt("fuzz key", hashNone, body, mode, "", aes128),
                                         mode, "", aes128);
    // Counted paddings always round-trip; no padding does for whole blocks; zero
    // padding cannot give back trailing zeros, so it is checked only for the prefix.
    const bool counted = mode == padPKCS7 || mode == padANSIX923 || mode == padISO10126;
    const bool wholeBlocks = !counted && mode != padZero && body.size() % 16 == 0;
    if ((counted || wholeBlocks) && again != body) std::abort();
    if (mode == padZero && body.compare(0, again.size(), again) != 0) std::abort();
  }
  return 0;
}
