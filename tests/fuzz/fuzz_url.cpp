// Feeds arbitrary text to the URL parser and checks the shape of every result.
#include "cloud/MyInternet.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  const TURLInfo info = ParseURL(url);
  Check(!info.Path.empty() && info.Path.front() == '/' && info.Path.back() == '/');
  Check(info.Document.find('/') == std::string::npos);
  Check(info.Port >= 0);
  Check(info.Host.find('/') == std::string::npos && info.Host.find(':') == std::string::npos);
  // Nothing is invented: every part is a piece of the text.
  for (const std::string* part : {&info.User, &info.Password, &info.Host, &info.Document, &info.Query, &info.Fragment})
    Check(url.find(*part) != std::string::npos);
  Check(url.find(info.Path.substr(1)) != std::string::npos);
  return 0;
}
