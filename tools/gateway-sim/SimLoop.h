#pragma once
// The simulator's event loop: one thread, poll() over the pty master, the control FIFO and
// a self-pipe that the signal handlers write to.

#include "ControlScript.h"
#include "GatewayModel.h"
#include "LinkWriter.h"
#include "Options.h"
#include "PtyLink.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace gwsim {

class SimLoop {
public:
    explicit SimLoop(Options options);
    ~SimLoop();
    SimLoop(const SimLoop&) = delete;
    SimLoop& operator=(const SimLoop&) = delete;

    // Runs until stopped; returns the process exit code.
    int Run();

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    bool Setup(std::string& error);
    bool OpenControl(std::string& error);
    void Publish();
    void CheckListener(Millis now);
    void ReadInput();
    void ReadControl();
    void DeliverLine(const std::string& line);
    // With --busy: answers the lines held while busy, once the time is up.
    void AnswerHeld(Millis now);
    void Execute(const std::string& directive, Millis now);
    void Hangup(Millis now);
    void ApplySignals();
    void Send(const std::string& bytes);
    // With --cloud-state-dir: reads the cloud's word for the gateway when it is due.
    void FollowCloud(Millis now);

    Options options_;
    PtyLink pty_;
    LinkWriter writer_;
    ControlScript script_;
    std::unique_ptr<GatewayModel> model_;
    std::unique_ptr<std::FILE, FileCloser> log_;
    int controlFd_ = -1;
    int controlKeepAliveFd_ = -1; // our own writer, so the FIFO never reads as closed
    bool controlCreated_ = false;
    std::vector<std::string> held_; // received while busy, not yet answered
    Millis busyUntil_ = 0;
    std::string inputLine_;
    bool inputOverflow_ = false;
    std::string controlLine_;
    Millis nextCloudLook_ = 0;
    bool listening_ = false;
    bool everListened_ = false;
    bool stop_ = false;
    int exitCode_ = 0;
    Millis hangupAt_;
    Millis replugAt_;
    int togglesSeen_ = 0;
};

} // namespace gwsim
