// cloud-sim: the Orvane cloud over HTTPS on this machine, for demonstrations, training
// and tests of the monitor. See --help.

#include "Certificate.h"
#include "Options.h"
#include "SimServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv) {
    cloudsim::Options options;
    std::string error;
    switch (cloudsim::ParseOptions(argc, argv, options, error)) {
    case cloudsim::ParseResult::Help: std::fputs(cloudsim::HelpText(), stdout); return 0;
    case cloudsim::ParseResult::Error: std::fprintf(stderr, "cloud-sim: %s\n", error.c_str()); return 2;
    case cloudsim::ParseResult::Run: break;
    }
    if (options.publishedVersion.empty()) options.publishedVersion = ORVANE_VERSION_TEXT;

    cloudsim::CertificateFiles certificate;
    if (!cloudsim::EnsureCertificate(options.certificateFolder, certificate, error, options.expiredCertificate)) {
        std::fprintf(stderr, "cloud-sim: %s\n", error.c_str());
        return 1;
    }

    // INT and TERM are blocked in every thread (the server's workers included) and taken
    // by sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    cloudsim::SimServer server(options, certificate);
    if (!server.Bind(error)) {
        std::fprintf(stderr, "cloud-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("port %d\ncertificate %s\n", server.Port(), certificate.certificatePath.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "cloud-sim: https://%s:%d/ (accounts: %zu)\n", options.bind.c_str(), server.Port(),
                 options.accounts.size());

    // The server runs on a thread of its own while this one waits for INT or TERM.
    std::thread serving([&server] {
        server.Run();
        if (server.IsStopping()) return;
        std::fprintf(stderr, "cloud-sim: the server stopped serving\n");
        std::_Exit(1);
    });
    serving.detach();
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // The server would wait for every kept-alive connection to idle out before it lets
    // go, so the process ends as soon as hanging requests are woken.
    server.Stop();
    std::fflush(nullptr);
    std::_Exit(0);
}
