// Feeds arbitrary text to the number and hexadecimal conversions. Range errors are the
// documented answer of spaced HexToBytes; anything else escaping is a fault.
#include "support/MyConvert.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);

  (void)HexToBytes(text, false);
  try {
    (void)HexToBytes(text, true);
  } catch (const std::range_error &) {
  }
  (void)TextToInt(text, 7);
  (void)TextToInt64(text, 7);
  (void)TextToFloat(text, 7.5);
  (void)HexToInt(text, 7);
  (void)HexToInt64(text, 7);

  // Bytes written as hex read back unchanged, with and without blanks.
  if (HexToBytes(BytesToHex(text, false), false) != text) std::abort();
  if (HexToBytes(BytesToHex(text, true), true) != text) std::abort();
  return 0;
}
