// tile-sim: a map tile server for demonstrations, training and tests of the
// monitor. Serves generated tiles on http://<address>:<port>/<z>/<x>/<y>.png.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <string>

#include "TileServer.h"

namespace {

const char kHelp[] = R"(Usage: tile-sim [options]

Serves generated map tiles (grid lines and the tile's zoom/x/y drawn in) as
http://ADDRESS:PORT/<zoom>/<x>/<y>.png. Prints the base URL once it listens.

  --bind ADDRESS      address to listen on (default 127.0.0.1)
  --port N            port (default 0: any free port)
  --fault RULE        misbehave for the tiles RULE selects (repeatable):
                      KIND or KIND:Z/X/Y with "*" for any part, KIND one of
                        missing  404 with a text body
                        corrupt  a PNG that breaks off into noise
                        slow     the tile after --slow-ms
                        hang     never answer
  --slow-ms MS        delay of "slow" tiles (default 3000)
  --max-age S         send "Cache-Control: max-age=S" with every tile
  --verbose           show each request on standard error
  --help              this text
)";

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

bool ReadInt(const char* text, int& value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (!*text || *end || number < 0 || number > 1000000000) return false;
  value = static_cast<int>(number);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tilesim::ServerOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto fail = [&](const char* why) {
      std::fprintf(stderr, "tile-sim: %s %s\n", why, option.c_str());
      return 2;
    };
    if (option == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (option == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (!value) return fail("missing value for");
    ++i;
    if (option == "--bind") {
      options.bindAddress = value;
    } else if (option == "--port") {
      if (!ReadInt(value, options.port) || options.port > 65535) return fail("bad value for");
    } else if (option == "--slow-ms") {
      if (!ReadInt(value, options.slowMs)) return fail("bad value for");
    } else if (option == "--max-age") {
      if (!ReadInt(value, options.maxAgeSeconds)) return fail("bad value for");
    } else if (option == "--fault") {
      const auto rule = tilesim::ParseFaultRule(value);
      if (!rule) return fail("bad rule for");
      options.faults.push_back(*rule);
    } else {
      return fail("unknown option");
    }
  }

  tilesim::TileServer server(options);
  if (!server.Start()) {
    std::fprintf(stderr, "tile-sim: cannot listen on %s:%d\n", options.bindAddress.c_str(), options.port);
    return 1;
  }
  std::printf("%s\n", server.BaseUrl().c_str());
  std::fflush(stdout);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  // Checked five times a second rather than in pause(), which a signal
  // arriving just before it would leave waiting for ever.
  while (!g_stop) usleep(200000);
  server.Stop();
  return 0;
}
