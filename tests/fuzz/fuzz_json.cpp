// Feeds arbitrary text to the JSON reader, then reads every value again as a document
// of its own, a few levels down. Checks the rules that callers rely on.
#include "cloud/MyJSON.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Read(const std::string& text, int depth) {
  const TMyJSON json(text);
  const auto length = static_cast<std::int32_t>(JSONCompact(text).size());
  Check(json.EndPos >= 0 && json.EndPos <= length + 1);
  switch (json.Kind) {
    case jkNone: Check(json.Names.empty() && json.Values.empty() && json.Count() == 0); break;
    case jkObject: Check(json.Names.size() == json.Values.size()); break;
    case jkArray: Check(json.Names.empty()); break;
    default: Check(false);
  }
  for (int i = 0; i < json.Count(); ++i) {
    const std::string raw = json.RawValue(i);
    Check(!raw.empty());
    (void)json.Value(i).ToString();
    (void)JSONUnquoteWide(raw);
    if (json.Kind == jkObject) Check(json.IndexOf(json.NameAt(i)) >= i);
    if (depth < 4) Read(raw, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Read(text, 0);
  const std::string compact = JSONCompact(text);
  Check(JSONCompact(compact) == compact);
  Check(JSONUnquote(text).size() <= text.size());
  (void)JSONGetText(text, "data");
  return 0;
}
