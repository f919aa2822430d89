#include "SimLoop.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gwsim {

namespace {

constexpr Millis kNever = std::numeric_limits<Millis>::max();
// A real line longer than this is noise; it is dropped up to its CR.
constexpr std::size_t kMaxLine = 4096;
// While nobody has the port open the master cannot signal an open; look this often.
constexpr Millis kListenerPollMs = 50;

volatile std::sig_atomic_t g_stopSignal = 0;
volatile std::sig_atomic_t g_ackToggles = 0;
int g_wakeFd = -1;

extern "C" void OnSignal(int signal) {
    const int savedErrno = errno;
    if (signal == SIGUSR1) g_ackToggles = g_ackToggles + 1;
    else g_stopSignal = 1;
    if (g_wakeFd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(g_wakeFd, &byte, 1);
    }
    errno = savedErrno;
}

Millis Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct WakePipe {
    int fds[2] = {-1, -1};
    WakePipe() {
        if (pipe(fds) == 0) {
            for (int fd : fds) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
    }
    ~WakePipe() {
        g_wakeFd = -1;
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
};

} // namespace

SimLoop::SimLoop(Options options)
    : options_(std::move(options)),
      writer_(options_.splitBytes, options_.splitGapMs),
      hangupAt_(kNever),
      replugAt_(kNever) {}

SimLoop::~SimLoop() {
    if (controlKeepAliveFd_ >= 0) close(controlKeepAliveFd_);
    if (controlFd_ >= 0) close(controlFd_);
    if (controlCreated_) unlink(options_.controlPath.c_str());
}

bool SimLoop::OpenControl(std::string& error) {
    const std::string& path = options_.controlPath;
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISFIFO(existing.st_mode)) {
            error = path + " exists and is not a FIFO";
            return false;
        }
        unlink(path.c_str()); // stale FIFO of an earlier run
    }
    if (mkfifo(path.c_str(), 0600) != 0) {
        error = "mkfifo " + path + ": " + std::strerror(errno);
        return false;
    }
    controlCreated_ = true;
    controlFd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    controlKeepAliveFd_ = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (controlFd_ < 0 || controlKeepAliveFd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool SimLoop::Setup(std::string& error) {
    if (!options_.scriptPath.empty() && !script_.Load(options_.scriptPath, error)) return false;
    if (!options_.logPath.empty()) {
        log_.reset(std::fopen(options_.logPath.c_str(), "w"));
        if (!log_) {
            error = "cannot write " + options_.logPath + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!options_.controlPath.empty() && !OpenControl(error)) return false;
    if (!pty_.Create(options_.linkPath, error)) return false;
    model_ = std::make_unique<GatewayModel>(
        options_.gateway,
        [this](const std::string& line) {
            if (options_.verbose) std::fprintf(stderr, "gateway-sim <- %s\n", line.c_str());
            Send(line + "\r\n");
        },
        Now());
    model_->SetAcknowledging(!options_.noAck);
    return true;
}

void SimLoop::Publish() {
    std::printf("%s\n", pty_.SlavePath().c_str());
    std::fflush(stdout);
    if (options_.verbose) std::fprintf(stderr, "gateway-sim: %s -> %s\n", options_.linkPath.c_str(), pty_.SlavePath().c_str());
}

void SimLoop::Send(const std::string& bytes) {
    // Nobody listening: the bytes go out on a line nobody reads, so they are lost.
    if (listening_) writer_.Queue(bytes);
}

void SimLoop::ApplySignals() {
    const int toggles = g_ackToggles;
    for (; togglesSeen_ != toggles; ++togglesSeen_) model_->SetAcknowledging(!model_->IsAcknowledging());
    if (g_stopSignal) stop_ = true;
}

void SimLoop::CheckListener(Millis now) {
    if (!pty_.IsOpen()) return;
    const bool listening = pty_.HasListener();
    if (listening == listening_) return;
    listening_ = listening;
    inputLine_.clear();
    inputOverflow_ = false;
    held_.clear();
    writer_.Clear();
    if (options_.verbose) std::fprintf(stderr, "gateway-sim: port %s\n", listening ? "opened" : "closed");
    if (listening && !everListened_) {
        everListened_ = true;
        script_.Start(now);
        if (options_.hangupAfterMs >= 0) hangupAt_ = now + options_.hangupAfterMs;
    }
}

void SimLoop::Hangup(Millis now) {
    hangupAt_ = kNever;
    if (options_.verbose) std::fprintf(stderr, "gateway-sim: unplugged\n");
    pty_.Unplug();
    listening_ = false;
    held_.clear();
    writer_.Clear();
    if (options_.replugAfterMs >= 0) replugAt_ = now + options_.replugAfterMs;
    else stop_ = true;
}

void SimLoop::DeliverLine(const std::string& line) {
    if (line.empty()) return;
    if (log_) {
        std::fprintf(log_.get(), "%s\n", line.c_str());
        std::fflush(log_.get());
    }
    if (options_.verbose) std::fprintf(stderr, "gateway-sim -> %s\n", line.c_str());
    // A toggle signalled before these bytes were written must apply to them.
    ApplySignals();
    const Millis now = Now();
    if (options_.busyMs > 0) {
        if (held_.empty()) busyUntil_ = now + options_.busyMs;
        held_.push_back(line);
        return;
    }
    model_->HandleLine(line, now);
}

void SimLoop::AnswerHeld(Millis now) {
    if (held_.empty() || now < busyUntil_) return;
    std::vector<std::string> lines;
    lines.swap(held_);
    // All answers leave in one write, so the monitor reads them together.
    for (const std::string& line : lines) model_->HandleLine(line, now);
}

void SimLoop::ReadInput() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(pty_.MasterFd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO: the last program holding the port closed it.
            listening_ = false;
            writer_.Clear();
            inputLine_.clear();
            held_.clear();
        }
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n') continue; // line feeds are not line ends
            if (c == '\r') {
                if (!inputOverflow_) DeliverLine(inputLine_);
                inputLine_.clear();
                inputOverflow_ = false;
            } else if (inputLine_.size() < kMaxLine) {
                inputLine_ += c;
            } else {
                inputOverflow_ = true;
            }
        }
    }
}

void SimLoop::ReadControl() {
    char buffer[1024];
    for (;;) {
        const ssize_t n = read(controlFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                if (!controlLine_.empty() && controlLine_.back() == '\r') controlLine_.pop_back();
                if (!controlLine_.empty()) Execute(controlLine_, Now());
                controlLine_.clear();
            } else if (controlLine_.size() < kMaxLine) {
                controlLine_ += buffer[i];
            }
        }
    }
}

void SimLoop::Execute(const std::string& directive, Millis now) {
    const auto space = directive.find(' ');
    const std::string word = directive.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : directive.substr(space + 1);
    bool ok = true;
    if (word == "send") Send(Unescape(rest) + "\r\n");
    else if (word == "raw") Send(Unescape(rest));
    else if (word == "ack") {
        if (rest == "on") model_->SetAcknowledging(true);
        else if (rest == "off") model_->SetAcknowledging(false);
        else if (rest == "toggle") model_->SetAcknowledging(!model_->IsAcknowledging());
        else ok = false;
    } else if (word == "hangup") {
        if (pty_.IsOpen()) Hangup(now);
    } else if (word == "set") {
        const auto gap = rest.find(' ');
        const std::string number = rest.substr(0, gap);
        ok = !number.empty() && number.size() <= 5 && number.find_first_not_of("0123456789") == std::string::npos;
        if (ok) model_->SetParameter(std::stoi(number), gap == std::string::npos ? "" : rest.substr(gap + 1), now);
    } else if (word == "ignition") {
        ok = rest == "on" || rest == "off";
        if (ok) model_->SetIgnition(rest == "on");
    } else if (word == "sim") {
        if (rest == "ready") model_->SetSimCard(SimCard::Ready, now);
        else if (rest == "locked") model_->SetSimCard(SimCard::Locked, now);
        else if (rest == "absent") model_->SetSimCard(SimCard::Absent, now);
        else ok = false;
    } else if (word == "state") {
        model_->PinCloudState(rest == "auto" ? std::string() : rest, now);
    } else if (word == "reboot") {
        model_->PowerCycle(now);
    } else if (word == "quit") {
        stop_ = true;
    } else {
        ok = false;
    }
    if (!ok) std::fprintf(stderr, "gateway-sim: ignored directive \"%s\" (see --help)\n", directive.c_str());
}

int SimLoop::Run() {
    WakePipe wake;
    g_wakeFd = wake.fds[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    if (!Setup(error)) {
        std::fprintf(stderr, "gateway-sim: %s\n", error.c_str());
        return 1;
    }
    Publish();

    while (!stop_) {
        Millis now = Now();
        ApplySignals();
        if (stop_) break;
        CheckListener(now);
        if (now >= replugAt_) {
            replugAt_ = kNever;
            if (!pty_.Create(options_.linkPath, error)) {
                std::fprintf(stderr, "gateway-sim: %s\n", error.c_str());
                exitCode_ = 1;
                break;
            }
            Publish();
        }
        if (now >= hangupAt_) Hangup(now);
        for (const std::string& directive : script_.TakeDue(now)) Execute(directive, now);
        AnswerHeld(now);
        FollowCloud(now);
        model_->Advance(now);
        if (listening_ && writer_.HasPending() && !writer_.Flush(pty_.MasterFd(), now)) {
            listening_ = false;
            writer_.Clear();
        }
        if (stop_) break;

        Millis wakeAt = std::min({model_->NextDue(), script_.NextDue(), hangupAt_, replugAt_});
        if (!held_.empty()) wakeAt = std::min(wakeAt, busyUntil_);
        if (!options_.cloudStateDir.empty()) wakeAt = std::min(wakeAt, nextCloudLook_);
        if (listening_ && writer_.HasPending()) wakeAt = std::min(wakeAt, writer_.NextWriteAt());
        now = Now();
        const Millis limit = listening_ ? 1000 : kListenerPollMs;
        const int timeout = static_cast<int>(std::clamp<Millis>(wakeAt - now, 0, limit));

        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {wake.fds[0], POLLIN, 0};
        const nfds_t controlIndex = count;
        if (controlFd_ >= 0) fds[count++] = {controlFd_, POLLIN, 0};
        const nfds_t masterIndex = count;
        if (listening_ && pty_.IsOpen()) {
            short events = POLLIN;
            if (writer_.HasPending() && writer_.NextWriteAt() <= now) events |= POLLOUT;
            fds[count++] = {pty_.MasterFd(), events, 0};
        }
        if (poll(fds, count, timeout) < 0) continue; // EINTR: a signal, handled at the top

        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (read(wake.fds[0], drain, sizeof drain) > 0) {
            }
        }
        if (controlFd_ >= 0 && (fds[controlIndex].revents & POLLIN)) ReadControl();
        if (masterIndex < count && (fds[masterIndex].revents & (POLLIN | POLLHUP | POLLERR))) ReadInput();
    }
    return exitCode_;
}

// The file is small and rewritten whole by rename, so a plain read sees the old word
// or the new one. A quarter second is well below the monitor's patience for ":state".
void SimLoop::FollowCloud(Millis now) {
    if (options_.cloudStateDir.empty() || now < nextCloudLook_) return;
    nextCloudLook_ = now + 250;
    std::string status;
    if (std::FILE* file = std::fopen((options_.cloudStateDir + "/" + model_->GatewayId()).c_str(), "rb")) {
        char buffer[128];
        const std::size_t count = std::fread(buffer, 1, sizeof buffer, file);
        std::fclose(file);
        status.assign(buffer, count);
        while (!status.empty() && (status.back() == '\n' || status.back() == '\r')) status.pop_back();
    }
    model_->FollowCloud(status, now);
}

} // namespace gwsim
