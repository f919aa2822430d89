// tile-sim: a map tile server for demonstrations, training and tests of the
// monitor. Serves generated tiles on http(s)://<address>:<port>/<z>/<x>/<y>.png.
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
http://ADDRESS:PORT/<zoom>/<x>/<y>.png. Prints the base URL once it listens,
and on exit the number of requests and of TCP connections they came over.

  --bind ADDRESS      address to listen on (default 127.0.0.1)
  --port N            port (default 0: any free port)
  --tls FOLDER        serve HTTPS with a self-signed certificate for 127.0.0.1
                      and localhost, kept in FOLDER (made there at the first
                      start); the monitor trusts it through ORVANE_CA_FILE
  --fault RULE        misbehave for the tiles RULE selects (repeatable):
                      KIND or KIND:Z/X/Y with "*" for any part, KIND one of
                        missing     404 with a text body
                        corrupt     a PNG that breaks off into noise
                        slow        the tile after --slow-ms
                        hang        never answer
                        endless     a body that never ends
                        huge        a 64 MiB body
                        trickle     the tile one byte every --trickle-ms
                        wrongsize   a good PNG of 512 x 512 pixels
                        farexpires  "Expires: Fri, 31 Dec 9999 23:59:59 GMT"
                        nostore     "Cache-Control: no-store"
                        blocked     a decodable "blocked" picture, status 403
  --slow-ms MS        delay of "slow" tiles (default 3000)
  --trickle-ms MS     pause between the bytes of "trickle" tiles (default 15000)
  --max-age S         send "Cache-Control: max-age=S" with every tile
  --verbose           show each request and each new connection on standard
                      error
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
    } else if (option == "--trickle-ms") {
      if (!ReadInt(value, options.trickleMs)) return fail("bad value for");
    } else if (option == "--tls") {
      options.tlsFolder = value;
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
    if (!server.StartError().empty())
      std::fprintf(stderr, "tile-sim: %s\n", server.StartError().c_str());
    else
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
  std::fprintf(stderr, "tile-sim: %d requests over %d connections\n", server.TotalRequests(), server.Connections());
  return 0;
}
