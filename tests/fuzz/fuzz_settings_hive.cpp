// Settings hive round trips on arbitrary bytes, in both directions:
//  - the input as hive text: what parses, written out and parsed again, gives the same
//    keys and values, and writing that again gives the same text; what is kept of it
//    when bad lines are skipped does the same, and is all of it when no line is bad;
//  - the input as a list of changes (key paths, value names, types and bytes of any
//    kind): what the writer produces, the reader accepts and reads back unchanged.
#include "support/SettingsHive.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void RequireRoundTrip(const THiveData &data) {
  const std::string text = data.Serialize();
  THiveData back;
  std::string error;
  if (!THiveData::Parse(text, back, error)) std::abort();
  if (!(back == data)) std::abort();
  if (back.Serialize() != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  THiveData parsed;
  std::string error;
  const bool whole = THiveData::Parse(bytes, parsed, error);
  if (whole) RequireRoundTrip(parsed);
  THiveData kept;
  const bool keptWhole = THiveData::Parse(bytes, kept, error, THiveData::TBadLines::skip);
  if (keptWhole != whole || (whole && !(kept == parsed))) std::abort();
  RequireRoundTrip(kept);

  FuzzedDataProvider input(data, size);
  THiveData built;
  while (input.remaining_bytes() > 0) {
    THiveKey &key = built.CreateKey(input.ConsumeRandomLengthString(64));
    THiveValue value;
    value.name = input.ConsumeRandomLengthString(32);
    value.type = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint32_t>(0, 5)
                                     : input.ConsumeIntegral<std::uint32_t>();
    value.data = input.ConsumeRandomLengthString(128);
    if (input.ConsumeBool()) key.SetValue(std::move(value));
  }
  RequireRoundTrip(built);
  return 0;
}
