// The port selector's probe of 1025 ports (each time its list drops down) beside
// bare stat() calls on the same device paths. The paths are the built-in table
// (COM1-96: whatever /dev has of ttyS, ttyUSB and ttyACM) and eight
// pseudo-terminals standing in for USB adapters as explicit ports COM200-207,
// two of them behind symbolic links and one held open by a port. The summary
// gives the probe's cost as a ratio of the bare stat calls.
//
//   port_probe_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "serial/AfPortProbe.h"
#include "serial/AfPosixPort.h"
#include "serial/PortMap.h"

namespace {

constexpr int kPorts = 1025;

class TAdapters {
 public:
  TAdapters() {
    m_folder = std::filesystem::temp_directory_path() / ("orvane-probe-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_folder);
    std::map<int, std::string> ports;
    for (int i = 0; i < 8; ++i) {
      int master = -1, slave = -1;
      char name[128] = {};
      if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) continue;
      ::close(slave);
      m_masters.push_back(master);
      std::string path = name;
      if (i < 2) {
        const auto link = m_folder / ("by-id-" + std::to_string(i));
        std::filesystem::create_symlink(path, link);
        path = link.string();
      }
      ports[200 + i] = path;
    }
    PortMap::SetExplicitPorts(ports);
    if (!ports.empty()) m_holder.Open(ports.rbegin()->second);
  }
  ~TAdapters() {
    m_holder.Close();
    PortMap::SetExplicitPorts({});
    for (const int fd : m_masters) ::close(fd);
    std::filesystem::remove_all(m_folder);
  }

 private:
  std::filesystem::path m_folder;
  std::vector<int> m_masters;
  TAfPosixPort m_holder;
};

std::map<std::string, double> g_nsPerRound;

void BM_Probe(benchmark::State& state) {
  TAdapters adapters;
  int present = 0;
  for (auto _ : state) {
    const TAfPortProbe probe;
    present = 0;
    for (int n = 1; n <= kPorts; ++n) present += probe.Probe(n) != psMissing;
    benchmark::DoNotOptimize(present);
  }
  state.counters["present"] = present;
}

void BM_BareStat(benchmark::State& state) {
  TAdapters adapters;
  std::vector<std::string> paths;
  for (int n = 1; n <= kPorts; ++n)
    if (std::string path = PortMap::DevicePath(n); !path.empty()) paths.push_back(std::move(path));
  int present = 0;
  for (auto _ : state) {
    present = 0;
    struct stat st {};
    for (const std::string& path : paths) present += ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    benchmark::DoNotOptimize(present);
  }
  state.counters["present"] = present;
  state.counters["paths"] = static_cast<double>(paths.size());
}

BENCHMARK(BM_Probe)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareStat)->Unit(benchmark::kMicrosecond);

class TRecorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (!run.error_occurred) g_nsPerRound[run.benchmark_name()] = run.GetAdjustedRealTime() * 1000.0;
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRecorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const double probe = g_nsPerRound["BM_Probe"], bare = g_nsPerRound["BM_BareStat"];
  if (probe > 0 && bare > 0)
    std::printf("probe of %d ports: %.1f us, bare stat of the same paths: %.1f us, ratio %.2f (target at most 3)\n",
                kPorts, probe / 1000, bare / 1000, probe / bare);
}
