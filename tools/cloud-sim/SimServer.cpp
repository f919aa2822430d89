#include "SimServer.h"

#include "JsonText.h"
#include "UrlText.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>

namespace cloudsim {

namespace {

// Hanging requests hold a worker each until the end; tests play several at once.
constexpr std::size_t kWorkerThreads = 32;
// Connections stay open for the client's next request, however many it sends.
constexpr std::size_t kKeepAliveRequests = 100000;
// A hanging request is let go after this long even if nobody stops the simulator.
constexpr long kHangLimitMs = 10 * 60 * 1000;
// Only the latest API requests are kept for /sim/journal.
constexpr std::size_t kJournalSize = 200;
// The largest body /sim/bytes makes.
constexpr long kMaxBytes = 64L * 1024 * 1024;

// The length of a trickled answer, and the pieces a huge answer is sent in.
constexpr std::size_t kTrickleBytes = 65536;
constexpr std::size_t kHugePieceBytes = 65536;

// An empty ZIP archive (just its end record), so that the download link gives a real file.
const std::string kEmptyZip("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22);

// Headers that the server library adds to a request itself.
bool IsConnectionInfo(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

long NumberParam(const httplib::Request& request, const char* name, long fallback) {
    const std::string text = QueryParam(request.target, name);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == '\0' ? value : fallback;
}

void Answer(httplib::Response& response, int status, const std::string& body,
            const char* type = "application/json") {
    response.status = status;
    response.set_content(body, type);
}

} // namespace

SimServer::SimServer(Options options, const CertificateFiles& certificate)
    : options_(std::move(options)),
      api_(options_),
      server_(std::make_unique<httplib::SSLServer>(certificate.certificatePath.c_str(),
                                                   certificate.keyPath.c_str())) {
    if (!options_.fault.empty()) ParseFault(options_.fault, fault_);
    server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server_->set_keep_alive_max_count(kKeepAliveRequests);
    // Headers and body leave in separate writes; without this each answer waits for the
    // client's delayed acknowledgement.
    server_->set_tcp_nodelay(true);
    auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        Handle(request, response);
    };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    server_->Put(".*", handler);
    server_->Patch(".*", handler);
    server_->Delete(".*", handler);
    server_->Options(".*", handler);
    if (options_.verbose) {
        server_->set_logger([](const httplib::Request& request, const httplib::Response& response) {
            std::fprintf(stderr, "cloud-sim: %s %s -> %d\n", request.method.c_str(), request.target.c_str(),
                         response.status);
        });
    }
}

SimServer::~SimServer() { Stop(); }

bool SimServer::Bind(std::string& error) {
    if (!server_->is_valid()) {
        error = "the certificate or its key cannot be used";
        return false;
    }
    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.bind);
    } else {
        port_ = server_->bind_to_port(options_.bind, options_.port) ? options_.port : -1;
    }
    if (port_ <= 0) {
        error = "cannot listen on " + options_.bind + ":" + std::to_string(options_.port);
        return false;
    }
    return true;
}

void SimServer::Run() { server_->listen_after_bind(); }

void SimServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    wake_.notify_all();
    server_->stop();
}

bool SimServer::IsStopping() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

bool SimServer::Pause(long milliseconds) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

Fault SimServer::TakeFault() {
    std::lock_guard lock(mutex_);
    const Fault fault = fault_;
    if (faultCount_ > 0 && --faultCount_ == 0) fault_ = Fault{};
    return fault;
}

bool SimServer::PlayFault(const Fault& fault, const httplib::Request& request, httplib::Response& response) {
    switch (fault.kind) {
    case FaultKind::None:
        return false;
    case FaultKind::Slow:
        if (Pause(fault.value)) return false;  // late, but answered as usual
        Answer(response, 503, JsonMessage("Simulator is stopping"));
        return true;
    case FaultKind::Hang:
        Answer(response, 503,
               JsonMessage(Pause(kHangLimitMs) ? "Simulated hang ended" : "Simulator is stopping"));
        return true;
    case FaultKind::Garbage:
        Answer(response, 200, std::string("\x1f\x8b<html>\0\xff{\"data\":", 18));
        return true;
    case FaultKind::Status:
        Answer(response, fault.value, JsonMessage("Simulated error " + std::to_string(fault.value)));
        return true;
    case FaultKind::Drop: {
        // Half of the declared body, then the connection goes.
        const std::string body(2000, 'x');
        response.status = 200;
        response.set_content_provider(body.size() * 2, "application/json",
                                      [body](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset > 0) return false;
                                          sink.write(body.data(), body.size());
                                          return true;
                                      });
        return true;
    }
    case FaultKind::Trickle: {
        // A whole JSON answer, one byte every `value` ms: it would end, after an hour or so.
        const std::string body = std::string(kTrickleBytes - 13, ' ') + "{\"data\":\"OK\"}";
        const long pause = fault.value;
        response.status = 200;
        response.set_content_provider(body.size(), "application/json",
                                      [this, body, pause](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (!Pause(pause)) return false;
                                          return sink.write(body.data() + offset, 1);
                                      });
        return true;
    }
    case FaultKind::Huge: {
        // A JSON string member of the size asked for, made piece by piece as it leaves.
        const std::size_t size = static_cast<std::size_t>(std::max(fault.value, 12));
        response.status = 200;
        response.set_content_provider(size, "application/json",
                                      [size](size_t offset, size_t, httplib::DataSink& sink) {
                                          std::string piece(std::min<std::size_t>(kHugePieceBytes, size - offset), 'x');
                                          for (std::size_t i = 0; i < piece.size(); ++i) {
                                              const std::size_t at = offset + i;
                                              if (at < 9) piece[i] = "{\"data\":\""[at];
                                              else if (at == size - 2) piece[i] = '"';
                                              else if (at == size - 1) piece[i] = '}';
                                          }
                                          return sink.write(piece.data(), piece.size());
                                      });
        return true;
    }
    case FaultKind::ToHttp:
        response.set_redirect("http://" + request.get_header_value("Host") + request.target, 302);
        response.set_content(JsonMessage("Moved"), "application/json");
        return true;
    }
    return false;
}

void SimServer::Record(const httplib::Request& request) {
    std::string headers = "{";
    for (const auto& [name, value] : request.headers) {
        if (IsConnectionInfo(name)) continue;
        if (headers.size() > 1) headers += ',';
        headers += JsonString(name) + ":" + JsonString(value);
    }
    headers += "}";
    std::string entry = JsonObject({{"method", JsonString(request.method)},
                                    {"target", JsonString(request.target)},
                                    {"headers", headers},
                                    {"body", JsonString(request.body)}});
    std::lock_guard lock(mutex_);
    journal_.push_back(std::move(entry));
    if (journal_.size() > kJournalSize) journal_.erase(journal_.begin());
}

void SimServer::Handle(const httplib::Request& request, httplib::Response& response) {
    const std::string path = request.target.substr(0, request.target.find('?'));
    if (path.rfind("/sim/", 0) == 0) {
        HandleControl(request, response);
        return;
    }
    Record(request);
    if (PlayFault(TakeFault(), request, response)) return;
    if (path == "/files/OrvaneMonitor.ver") {
        Answer(response, 200, options_.publishedVersion, "text/plain");
    } else if (path == "/files/OrvaneMonitor.zip") {
        Answer(response, 200, kEmptyZip, "application/zip");
    } else {
        const ApiAnswer answer =
            api_.Handle(request.method, request.target, request.get_header_value("Authorization"), request.body);
        Answer(response, answer.status, answer.body);
    }
}

void SimServer::HandleControl(const httplib::Request& request, httplib::Response& response) {
    const std::string path = request.target.substr(0, request.target.find('?'));
    if (path == "/sim/echo") {
        // The request as the simulator received it: request line, headers, blank line, body.
        std::string text = request.method + " " + request.target + "\n";
        for (const auto& [name, value] : request.headers)
            if (!IsConnectionInfo(name)) text += name + ": " + value + "\n";
        Answer(response, 200, text + "\n" + request.body, "text/plain");
    } else if (path == "/sim/peer") {
        // The client's port: the same number for two requests means one kept connection.
        Answer(response, 200, std::to_string(request.remote_port), "text/plain");
    } else if (path == "/sim/redirect") {
        response.set_redirect(QueryParam(request.target, "to", "/sim/echo"),
                              static_cast<int>(NumberParam(request, "status", 302)));
        response.set_content(JsonMessage("Moved"), "application/json");
    } else if (path == "/sim/bytes") {
        const long count = std::clamp(NumberParam(request, "count", 0), 0L, kMaxBytes);
        std::string body(static_cast<std::size_t>(count), '\0');
        for (long i = 0; i < count; ++i) body[i] = static_cast<char>('a' + i % 26);
        Answer(response, 200, body, "application/octet-stream");
    } else if (path == "/sim/status") {
        const int status = static_cast<int>(NumberParam(request, "code", 500));
        Answer(response, status, JsonMessage("Simulated error " + std::to_string(status)));
    } else if (path == "/sim/play") {
        // One request with a fault of its own: /sim/play?fault=hang
        Fault fault;
        if (!ParseFault(QueryParam(request.target, "fault"), fault))
            Answer(response, 400, JsonMessage("Unknown fault"));
        else if (!PlayFault(fault, request, response))
            Answer(response, 200, JsonObject({{"data", JsonString("OK")}}));
    } else if (path == "/sim/fault" && request.method == "PUT") {
        Fault fault;
        if (!ParseFault(request.body, fault)) {
            Answer(response, 400, JsonMessage("Unknown fault"));
            return;
        }
        std::lock_guard lock(mutex_);
        fault_ = fault;
        faultCount_ = static_cast<int>(std::max(0L, NumberParam(request, "count", 0)));
        Answer(response, 200, JsonObject({{"data", JsonString("OK")}}));
    } else if (path == "/sim/fault" && request.method == "DELETE") {
        std::lock_guard lock(mutex_);
        fault_ = Fault{};
        faultCount_ = 0;
        Answer(response, 200, JsonObject({{"data", JsonString("OK")}}));
    } else if (path == "/sim/token-lifetime" && request.method == "PUT") {
        char* end = nullptr;
        const long seconds = std::strtol(request.body.c_str(), &end, 10);
        if (request.body.empty() || *end != '\0' || seconds < -86400 || seconds > 10 * 86400) {
            Answer(response, 400, JsonMessage("Seconds expected"));
            return;
        }
        api_.SetTokenLifetime(static_cast<int>(seconds));
        Answer(response, 200, JsonObject({{"data", JsonString("OK")}}));
    } else if (path == "/sim/journal" && request.method == "DELETE") {
        std::lock_guard lock(mutex_);
        journal_.clear();
        Answer(response, 200, JsonObject({{"data", JsonString("OK")}}));
    } else if (path == "/sim/journal") {
        std::lock_guard lock(mutex_);
        std::string list = "[";
        for (const std::string& entry : journal_) list += (list.size() > 1 ? "," : "") + entry;
        Answer(response, 200, JsonObject({{"data", list + "]"}}));
    } else {
        Answer(response, 404, JsonMessage("Not found"));
    }
}

} // namespace cloudsim
