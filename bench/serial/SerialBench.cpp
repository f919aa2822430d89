// Throughput (MB/s) and latency (write on the far side to OnDataRecived) of
// report lines through a pseudo-terminal into TAfComPort, beside a minimal
// single-threaded poll()+read() reader on a pty of its own. The summary at
// the end gives the component's figures as a ratio of the minimal reader's.
//
//   serial_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "serial/AfComPort.h"
#include "serial/PortMap.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kBenchPort = 901;
constexpr size_t kThroughputBytes = 2u << 20;

struct TPty {
  int master = -1;
  std::string slave;
  TPty() {
    int s = -1;
    char name[128] = {};
    if (::openpty(&master, &s, name, nullptr, nullptr) == 0) {
      slave = name;
      ::close(s);
    }
  }
  ~TPty() {
    if (master >= 0) ::close(master);
  }
  void WriteAll(const char* data, size_t size) const {
    while (size > 0) {
      const ssize_t r = ::write(master, data, size);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return;
      data += r;
      size -= static_cast<size_t>(r);
    }
  }
};

// A gateway bridge report of typical length, numbered so the reader can tell lines apart.
std::string ReportLine(unsigned sequence) {
  char line[96];
  std::snprintf(line, sizeof line, ":brg2gw C4A2F01B7E%06u -67 12 0 1f2e3d4c5b6a 3.61\r", sequence % 1000000);
  return line;
}

std::string ReportBlock(size_t bytes) {
  std::string block;
  for (unsigned i = 0; block.size() < bytes; ++i) block += ReportLine(i);
  block.resize(bytes);
  return block;
}

struct TResult {
  double mbPerSecond = 0;
  double p50Us = 0;
  double p99Us = 0;
};
std::map<std::string, TResult> g_results;

void SetPercentiles(benchmark::State& state, std::vector<double>& latencies, TResult& result) {
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  result.p50Us = latencies[latencies.size() / 2];
  result.p99Us = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  state.counters["p50_us"] = result.p50Us;
  state.counters["p99_us"] = result.p99Us;
}

// The component as the application uses it: every OnDataRecived reads all
// waiting bytes in the main thread.
class TComponentReader {
 public:
  explicit TComponentReader(const TPty& pty) {
    PortMap::SetExplicitPorts({{kBenchPort, pty.slave}});
    m_port.SetComNumber(kBenchPort);
    m_port.SetBaudRate(br9600);
    m_port.OnDataRecived = [this](QObject*, int) { m_received += m_port.ReadAllText().size(); };
    m_port.OpenPort();
  }
  ~TComponentReader() { PortMap::SetExplicitPorts({}); }
  void WaitFor(size_t total) {
    while (m_received < total) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  size_t m_received = 0;

 private:
  TAfComPort m_port;
};

// The least a reader can do: one raw non-blocking descriptor, poll and read.
class TMinimalReader {
 public:
  explicit TMinimalReader(const TPty& pty) : m_fd(::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios t{};
    ::tcgetattr(m_fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m_fd, TCSANOW, &t);
  }
  ~TMinimalReader() { ::close(m_fd); }
  void WaitFor(size_t total) {
    char buffer[65536];
    while (m_received < total) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) continue;
      const ssize_t r = ::read(m_fd, buffer, sizeof buffer);
      if (r > 0) m_received += static_cast<size_t>(r);
    }
  }
  size_t m_received = 0;

 private:
  int m_fd;
};

template <typename Reader>
void Throughput(benchmark::State& state, const char* name) {
  TPty pty;
  Reader reader(pty);
  const std::string block = ReportBlock(kThroughputBytes);
  double seconds = 0;
  for (auto _ : state) {
    const size_t target = reader.m_received + block.size();
    const auto start = Clock::now();
    std::thread writer([&] { pty.WriteAll(block.data(), block.size()); });
    reader.WaitFor(target);
    writer.join();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
  g_results[name].mbPerSecond = state.iterations() * block.size() / seconds / 1e6;
  state.counters["MB_per_s"] = g_results[name].mbPerSecond;
}

// One line at a time: the time from the far side's write until the reader has the whole line.
template <typename Reader>
void Latency(benchmark::State& state, const char* name) {
  TPty pty;
  Reader reader(pty);
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(state.max_iterations));
  unsigned sequence = 0;
  for (auto _ : state) {
    const std::string line = ReportLine(sequence++);
    const size_t target = reader.m_received + line.size();
    const auto start = Clock::now();
    pty.WriteAll(line.data(), line.size());
    reader.WaitFor(target);
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  SetPercentiles(state, latencies, g_results[name]);
}

void BM_ComponentThroughput(benchmark::State& state) { Throughput<TComponentReader>(state, "component"); }
void BM_MinimalReaderThroughput(benchmark::State& state) { Throughput<TMinimalReader>(state, "minimal"); }
void BM_ComponentLatency(benchmark::State& state) { Latency<TComponentReader>(state, "component"); }
void BM_MinimalReaderLatency(benchmark::State& state) { Latency<TMinimalReader>(state, "minimal"); }

BENCHMARK(BM_ComponentThroughput)->Iterations(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinimalReaderThroughput)->Iterations(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComponentLatency)->Iterations(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MinimalReaderLatency)->Iterations(3000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  const TResult& c = g_results["component"];
  const TResult& m = g_results["minimal"];
  if (c.mbPerSecond > 0 && m.mbPerSecond > 0)
    std::printf("throughput: component %.1f MB/s, minimal reader %.1f MB/s, ratio %.2f\n", c.mbPerSecond,
                m.mbPerSecond, c.mbPerSecond / m.mbPerSecond);
  if (c.p50Us > 0 && m.p50Us > 0)
    std::printf("latency p50: component %.1f us, minimal reader %.1f us, ratio %.2f; p99: %.1f us vs %.1f us, ratio %.2f\n",
                c.p50Us, m.p50Us, c.p50Us / m.p50Us, c.p99Us, m.p99Us, c.p99Us / m.p99Us);
  return 0;
}
