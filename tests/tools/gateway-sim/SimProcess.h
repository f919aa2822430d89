#pragma once
// Runs gateway-sim as a child process on a link in a private temporary folder and talks to
// it through the link the way the monitor does: command lines end in CR, received lines
// are cut at CR and trimmed of LF, CR and blanks.

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace simtest {

class SimProcess {
public:
    // An argument beginning "@DIR@" names a file in the private folder.
    // `prepare` runs on the private folder before the simulator starts.
    explicit SimProcess(std::vector<std::string> arguments,
                        const std::function<void(const std::string& folder)>& prepare = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool IsRunning() const { return pid_ > 0; }
    const std::string& Folder() const { return folder_; }
    const std::string& LinkPath() const { return link_; }
    // Next line the simulator prints on standard output (the slave path), or empty.
    std::string NextStdoutLine();

    bool OpenPort();
    void ClosePort();
    bool Send(const std::string& line);     // appends CR
    bool SendRaw(const std::string& bytes);

    // Next received line; nullopt when none comes within the guard time or the port hung up.
    std::optional<std::string> NextLine();
    // Skips lines until one starts with `prefix`; the skipped ones go to `skipped` if given.
    std::optional<std::string> WaitFor(const std::string& prefix, std::vector<std::string>* skipped = nullptr);
    // Skips report lines (":...") until an acknowledgement ("OK"/"ERROR" word) arrives.
    std::optional<std::string> NextAcknowledgement();

    bool HungUp() const { return hungUp_; }
    int ReadCalls() const { return readCalls_; }
    // Waits for the process to end; its exit status, or -1.
    int WaitExit();
    void Signal(int signal);

private:
    bool Fill();
    std::string folder_;
    std::string link_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string stdoutBuffer_;
    int port_ = -1;
    std::string rx_;
    bool hungUp_ = false;
    int readCalls_ = 0;
};

// The monitor's acknowledgement rule: the head line without its first character, cut to
// the length of the acknowledgement's argument, equals that argument.
bool AcknowledgementMatches(const std::string& ackLine, const std::string& command);

} // namespace simtest
