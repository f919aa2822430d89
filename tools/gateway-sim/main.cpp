// gateway-sim: an Orvane gateway on a pseudo-terminal, for demonstrations, training and
// tests of the monitor. See --help.

#include "Options.h"
#include "SimLoop.h"

#include <cstdio>

int main(int argc, char** argv) {
    gwsim::Options options;
    std::string error;
    switch (gwsim::ParseOptions(argc, argv, options, error)) {
    case gwsim::ParseResult::Help: std::fputs(gwsim::HelpText(), stdout); return 0;
    case gwsim::ParseResult::Error: std::fprintf(stderr, "gateway-sim: %s\n", error.c_str()); return 2;
    case gwsim::ParseResult::Run: break;
    }
    gwsim::SimLoop loop(std::move(options));
    return loop.Run();
}
