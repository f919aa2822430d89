// The version check's stored state on arbitrary values: any answer (status and
// body), any stored check day and own version, any today. Checks the rules the
// panel relies on: due exactly when forced, a week has passed or the stored day
// lies ahead (no overflow at the ends of the range); only a 200 with a body of at
// most kMaxStoredVersionBytes is stored, and read back unchanged; the state follows
// the stored answer byte for byte.
#include "cloud/VersionCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "support/MyRegIniExtended.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// On tmpfs where there is one: every write is synced. Removed when the run ends.
std::string g_folder;

const std::string& HiveFile() {
  static const std::string file = [] {
    g_folder = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/fuzz_version_XXXXXX");
    if (!mkdtemp(g_folder.data())) std::abort();
    std::atexit([] {
      for (const char* name : {"/settings.reg", "/settings.reg.lock"}) unlink((g_folder + name).c_str());
      rmdir(g_folder.c_str());
    });
    return g_folder + "/settings.reg";
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string ownVersion = input.ConsumeRandomLengthString(16);
  const std::string storedDay = input.ConsumeBool() ? std::to_string(input.ConsumeIntegral<std::int32_t>())
                                                    : input.ConsumeRandomLengthString(12);
  const int today = input.ConsumeIntegral<int>();
  const bool force = input.ConsumeBool();
  const int status = input.ConsumeIntegral<int>();
  const std::string body = input.ConsumeRemainingBytesAsString();

  unlink(HiveFile().c_str());
  TRegIniExtended settings(TRegIniExtended::kDefaultKey, HiveFile());
  settings.WriteString({}, kVersionValue, ownVersion);
  settings.WriteString({}, kVersionCheckValue, storedDay);

  const std::int64_t last = settings.ReadInteger({}, kVersionCheckValue, 0);
  const bool due = force || last > today || today - last > 6;
  Check(ClaimVersionCheck(settings, today, force) == due);
  Check(settings.ReadInteger({}, kVersionCheckValue, 0) == (due ? today : last));

  const std::string before = settings.ReadString({}, kVersionAvailableValue, {});
  const bool stored = StoreVersionAnswer(settings, status, body);
  Check(stored == (status == 200 && !body.empty() && body.size() <= kMaxStoredVersionBytes));
  const std::string available = settings.ReadString({}, kVersionAvailableValue, {});
  Check(available == (stored ? body : before));

  const TVersionState state = RefreshVersionState(settings, ownVersion);
  Check(state == (available.empty() ? vsUnknown : available == ownVersion ? vsUpToDate : vsNewer));
  return 0;
}
