// Costs of the support helpers on the paths the program uses them: decoding the stored
// account records at start-up, formatting log time stamps, reading report numbers, and
// one settings write (lock, re-read, fsync, rename).
#include "support/MyConvert.h"
#include "support/MyProtoBuf.h"
#include "support/MyRegIniExtended.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <unistd.h>

namespace {

void BM_DecodeAccountRecord(benchmark::State &state) {
  const std::string record = EncodeBytesField(1, std::string(16, '\x5a')) +
                             EncodeBytesField(2, "account-0001") + EncodeBytesField(3, "Field team") +
                             EncodeBytesField(4, std::string(32, '\x11')) +
                             EncodeBytesField(5, "Production") + EncodeBytesField(6, "api.example");
  for (auto _ : state) {
    TProtocolBuffer message(record);
    benchmark::DoNotOptimize(message.GetValue(5));
  }
}
BENCHMARK(BM_DecodeAccountRecord);

void BM_FormatLogTimeStamp(benchmark::State &state) {
  double moment = 45722.37855;
  for (auto _ : state)
    benchmark::DoNotOptimize(FormatDateTemplate("%DD%/%MM%/%YYYY% #HH#:#MM#:#SS#", moment));
}
BENCHMARK(BM_FormatLogTimeStamp);

void BM_TextToInt(benchmark::State &state) {
  const std::string text = "-1,234,567";
  for (auto _ : state) benchmark::DoNotOptimize(TextToInt(text, 0));
}
BENCHMARK(BM_TextToInt);

void BM_SettingsWrite(benchmark::State &state) {
  char pattern[] = "/tmp/bench_hive_XXXXXX";
  if (!mkdtemp(pattern)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string dir = pattern;
  {
    TRegIniExtended store(TRegIniExtended::kDefaultKey, dir + "/settings.reg");
    for (int i = 0; i < 20; ++i)
      store.WriteBinaryString("Accounts", "account-" + std::to_string(i), std::string(96, 'x'));
    int n = 0;
    for (auto _ : state) store.WriteInteger("", "Version check", ++n);
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}
BENCHMARK(BM_SettingsWrite)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
