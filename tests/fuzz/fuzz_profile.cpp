// Parameter profiles on arbitrary text: parsing never fails other than by its
// result, and a profile written from what was parsed reads back the same.
#include "app/ParameterProfile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<TParameterSetting> settings;
  std::string error;
  if (!ParseParameterProfile(text, settings, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  std::vector<TParameterSetting> again;
  if (!ParseParameterProfile(ParameterProfileText(settings, "again"), again, error) || again != settings) std::abort();
  return 0;
}
