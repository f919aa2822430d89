// Feeds arbitrary bytes to the protocol buffer decoder and to the schema reader, then reads
// every field back through a schema built from the same input.
#include "support/MyProtoBuf.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);

  TProtocolBuffer message(bytes);
  if (!message.Valid() && message.Count() != 0) std::abort();

  // The same bytes as a schema, so decoding sees names and types it would otherwise not.
  message.Defs().ParseSchema(bytes);
  if (!message.Defs().Messages().empty()) message.SetMessageName(message.Defs().Messages()[0]);
  TProtocolBufferField field;
  for (int i = 0; i < message.Count(); ++i) {
    if (!message.GetField(i, field)) std::abort();
    (void)field.Value.ToString();
    (void)message.GetValue(field.FieldNumber);
  }

  // What the encoder writes, the reader reads back.
  std::string rest = bytes;
  std::int64_t value;
  while (!rest.empty())
    if (ReadVarint(rest, value) && value >= 0) {
      std::string encoded = EncodeVarint(false, value);
      std::int64_t back = -1;
      if (!ReadVarint(encoded, back) || back != value || !encoded.empty()) std::abort();
    }
  return 0;
}
