// The version file's answer, whatever the server sent, through the steps the window
// runs on it: stored in the settings (or refused), read back by a fresh store, and the
// published-version state decided from it.
#include "cloud/VersionCheck.h"
#include "support/MyRegIniExtended.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const std::string& HiveFile() {
  static const std::string file = [] {
    char folder[] = "/tmp/fuzz_version_XXXXXX";
    Check(mkdtemp(folder) != nullptr);
    return std::string(folder) + "/settings.reg";
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int status = input.ConsumeBool() ? 200 : input.ConsumeIntegral<int>();
  const std::string own = input.ConsumeRandomLengthString(32);
  const std::string body = input.ConsumeRemainingBytesAsString();

  TRegIniExtended settings(TRegIniExtended::kDefaultKey, HiveFile());
  (void)RefreshVersionState(settings, own);
  const bool stored = StoreVersionAnswer(settings, status, body);
  Check(stored == (status == 200 && !body.empty() && body.size() <= kMaxStoredVersionBytes));

  const TRegIniExtended reader(TRegIniExtended::kDefaultKey, HiveFile());
  if (stored) Check(reader.ReadString({}, kVersionAvailableValue, {}) == body);
  TRegIniExtended again(TRegIniExtended::kDefaultKey, HiveFile());
  const TVersionState state = RefreshVersionState(again, own);
  const std::string available = again.ReadString({}, kVersionAvailableValue, {});
  Check(state == (available.empty() ? vsUnknown : available == own ? vsUpToDate : vsNewer));
  if (stored) Check(state == (body == own ? vsUpToDate : vsNewer));
  return 0;
}
