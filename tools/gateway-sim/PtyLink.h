#pragma once
// A pseudo-terminal published under a stable path: the master side is the gateway's end
// of the cable, the slave device (reached through the symlink) is the PC's serial port.
//
// The slave is left closed, so the master reports a hang-up (POLLHUP) for as long as no
// program has the port open; that is how the simulator tells "a program listens".
// Owns the master descriptor and the symlink; both go when the object dies or on Unplug().
// Thread: single-threaded.

#include <string>

namespace gwsim {

class PtyLink {
public:
    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;
    PtyLink(PtyLink&& other) noexcept;
    PtyLink& operator=(PtyLink&& other) noexcept;

    // Makes a raw 9600 8N1 pty and points `linkPath` at its slave. A stale symlink at
    // `linkPath` is replaced; anything else there is left alone and the call fails.
    // Returns false with `error` set on failure.
    bool Create(const std::string& linkPath, std::string& error);

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    bool IsOpen() const { return master_ >= 0; }

    // True while some program has the slave open.
    bool HasListener() const;

    // Pulls the plug: closes the master (the program on the slave sees a hang-up) and
    // removes the symlink if it still points at this pty.
    void Unplug();

private:
    int master_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

} // namespace gwsim
