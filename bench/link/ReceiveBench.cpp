// Lines per second through the window's receive step, beside a bare linear
// line cutter over the same bytes, delivered in chunks as port events bring
// them (256 bytes: a line or three per event; 16 KiB: a burst read at once):
//   Cutter    memchr for each CR, trim, count; one compaction per chunk (the floor);
//   Receive   TFOvMonitor::ReceiveBytes on lines of a kind no parser takes,
//             so the cost is the receive step itself (assembly, trim, keyword);
//   Dispatch  ReceiveBytes on mixed report lines (":cell", ":io", ":state",
//             ":get", ":sim", ":wifi", acknowledgements): parsers included.
// The summary gives Receive / Cutter (target at least 0.5) per chunk size.
//
//   receive_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FOvMonitor.h"

namespace {

constexpr std::size_t kStreamBytes = 1 << 20;

const char* const kMixed[] = {
    ":cell 2 -71 7 1 \"Qel Mobile\"\r\n", ":io 14.02V 4.12V 1\r\n", ":state registered,Online\r\n",
    ":get 97 internet\r\n",               "OK par_get\r\n",        ":sim 1 8935106012345678901\r\n",
    ":wifi 1 HomeNet -54\r\n",
};

// The same lines with a keyword no parser takes.
std::string Unparsed(const std::string& line) { return ":zz" + line.substr(line.find(' ')); }

std::string Stream(bool parsed, std::size_t* lines) {
  std::string stream;
  *lines = 0;
  for (std::size_t i = 0; stream.size() < kStreamBytes; ++i, ++*lines) {
    const std::string line = kMixed[i % std::size(kMixed)];
    stream += parsed ? line : Unparsed(line);
  }
  return stream;
}

std::vector<std::string> Chunks(const std::string& stream, std::size_t size) {
  std::vector<std::string> chunks;
  for (std::size_t at = 0; at < stream.size(); at += size) chunks.push_back(stream.substr(at, size));
  return chunks;
}

// The least a line cutter can do.
class TBareCutter {
 public:
  void Receive(const std::string& bytes) {
    m_buffer += bytes;
    const char* data = m_buffer.data();
    std::size_t from = 0;
    while (const void* cr = std::memchr(data + from, '\r', m_buffer.size() - from)) {
      const std::size_t end = static_cast<const char*>(cr) - data;
      std::size_t first = from, last = end;
      while (first < last && (data[first] == '\n' || data[first] == ' ')) ++first;
      while (last > first && (data[last - 1] == '\n' || data[last - 1] == ' ')) --last;
      if (last > first) {
        ++m_lines;
        m_bytes += last - first;
      }
      from = end + 1;
    }
    m_buffer.erase(0, from);
  }
  std::size_t m_lines = 0, m_bytes = 0;

 private:
  std::string m_buffer;
};

std::map<std::string, double> g_linesPerSecond;

template <typename Feed>
void Run(benchmark::State& state, const std::string& name, bool parsed, Feed feed) {
  std::size_t lines = 0;
  const std::vector<std::string> chunks = Chunks(Stream(parsed, &lines), static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    for (const std::string& chunk : chunks) feed(chunk);
  state.counters["lines_per_s"] =
      benchmark::Counter(static_cast<double>(lines * state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(kStreamBytes * state.iterations()));
  // Recorded by the reporter below from the adjusted real time.
  g_linesPerSecond[name + "/" + std::to_string(state.range(0))] = static_cast<double>(lines);
}

void Cutter(benchmark::State& state) {
  TBareCutter cutter;
  Run(state, "Cutter", false, [&](const std::string& chunk) { cutter.Receive(chunk); });
  benchmark::DoNotOptimize(cutter.m_bytes);
}

void Receive(benchmark::State& state) {
  TFOvMonitor window;
  Run(state, "Receive", false, [&](const std::string& chunk) { window.ReceiveBytes(chunk); });
}

void Dispatch(benchmark::State& state) {
  TFOvMonitor window;
  Run(state, "Dispatch", true, [&](const std::string& chunk) { window.ReceiveBytes(chunk); });
}

BENCHMARK(Cutter)->Arg(256)->Arg(16384)->Unit(benchmark::kMillisecond);
BENCHMARK(Receive)->Arg(256)->Arg(16384)->Unit(benchmark::kMillisecond);
BENCHMARK(Dispatch)->Arg(256)->Arg(16384)->Unit(benchmark::kMillisecond);

// Lines per second of each run, from the time per pass over the stream.
class TRecorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string name = run.benchmark_name();
      const double seconds = run.GetAdjustedRealTime() / 1000.0;  // reported in ms
      if (seconds > 0) m_rate[name] = g_linesPerSecond[name] / seconds;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> m_rate;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRecorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const char* chunk : {"256", "16384"}) {
    const double cutter = reporter.m_rate[std::string("Cutter/") + chunk];
    const double receive = reporter.m_rate[std::string("Receive/") + chunk];
    const double dispatch = reporter.m_rate[std::string("Dispatch/") + chunk];
    if (cutter > 0 && receive > 0)
      std::printf("chunks of %s bytes: bare cutter %.2f M lines/s, receive step %.2f M lines/s (ratio %.2f, target "
                  "at least 0.5), with parsers %.2f M lines/s (ratio %.2f)\n",
                  chunk, cutter / 1e6, receive / 1e6, receive / cutter, dispatch / 1e6, dispatch / cutter);
  }
  return 0;
}
