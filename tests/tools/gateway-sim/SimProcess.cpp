#include "SimProcess.h"

#include "../../SpawnWithOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace simtest {

namespace {
// Guard against a hung simulator only; every wait ends as soon as the awaited line arrives.
constexpr int kGuardMs = 10000;
} // namespace

SimProcess::SimProcess(std::vector<std::string> arguments, const std::function<void(const std::string&)>& prepare) {
    char pattern[] = "/tmp/gwsim-test-XXXXXX";
    if (!mkdtemp(pattern)) return;
    folder_ = pattern;
    link_ = folder_ + "/com1";
    if (prepare) prepare(folder_);
    std::vector<std::string> all{GATEWAY_SIM_PATH, "--link", link_};
    for (std::string& a : arguments) {
        if (a.rfind("@DIR@", 0) == 0) a = folder_ + a.substr(5);
        all.push_back(a);
    }
    pid_ = SpawnWithOutput(std::move(all), stdout_);
}

SimProcess::~SimProcess() {
    ClosePort();
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        WaitExit();
    }
    if (stdout_ >= 0) close(stdout_);
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

std::string SimProcess::NextStdoutLine() {
    for (;;) {
        const auto end = stdoutBuffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = stdoutBuffer_.substr(0, end);
            stdoutBuffer_.erase(0, end + 1);
            return line;
        }
        pollfd p{stdout_, POLLIN, 0};
        if (poll(&p, 1, kGuardMs) <= 0) return {};
        char buffer[256];
        const ssize_t n = read(stdout_, buffer, sizeof buffer);
        if (n <= 0) return {};
        stdoutBuffer_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool SimProcess::OpenPort() {
    ClosePort();
    hungUp_ = false;
    rx_.clear();
    port_ = open(link_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return port_ >= 0;
}

void SimProcess::ClosePort() {
    if (port_ >= 0) close(port_);
    port_ = -1;
}

bool SimProcess::SendRaw(const std::string& bytes) {
    return port_ >= 0 && write(port_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool SimProcess::Send(const std::string& line) { return SendRaw(line + "\r"); }

bool SimProcess::Fill() {
    if (port_ < 0 || hungUp_) return false;
    pollfd p{port_, POLLIN, 0};
    if (poll(&p, 1, kGuardMs) <= 0) return false;
    char buffer[512];
    const ssize_t n = read(port_, buffer, sizeof buffer);
    ++readCalls_;
    if (n <= 0) {
        // EIO or end of file: the other end of the line is gone.
        if (n == 0 || errno != EAGAIN) hungUp_ = true;
        return n < 0 && errno == EAGAIN;
    }
    rx_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> SimProcess::NextLine() {
    for (;;) {
        const auto cr = rx_.find('\r');
        if (cr != std::string::npos) {
            std::string line = rx_.substr(0, cr);
            rx_.erase(0, cr + 1);
            const auto first = line.find_first_not_of("\n\r ");
            if (first == std::string::npos) continue;
            return line.substr(first, line.find_last_not_of("\n\r ") - first + 1);
        }
        if (!Fill()) return std::nullopt;
    }
}

std::optional<std::string> SimProcess::WaitFor(const std::string& prefix, std::vector<std::string>* skipped) {
    while (auto line = NextLine()) {
        if (line->rfind(prefix, 0) == 0) return line;
        if (skipped) skipped->push_back(*line);
    }
    return std::nullopt;
}

std::optional<std::string> SimProcess::NextAcknowledgement() {
    while (auto line = NextLine()) {
        const std::string word = line->substr(0, line->find(' '));
        if (word == "OK" || word == "ERROR") return line;
    }
    return std::nullopt;
}

int SimProcess::WaitExit() {
    if (pid_ <= 0) return -1;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, 0);
    pid_ = -1;
    if (done <= 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SimProcess::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

bool AcknowledgementMatches(const std::string& ackLine, const std::string& command) {
    const auto space = ackLine.find(' ');
    const std::string argument = space == std::string::npos ? std::string() : ackLine.substr(space + 1);
    return command.substr(1, argument.size()) == argument;
}

} // namespace simtest
