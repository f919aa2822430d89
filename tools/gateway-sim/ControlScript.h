#pragma once
// Timed control lines for tests and training sessions.
//
// Script file, one entry a line ("#" starts a comment line):
//     <ms> <text>     at <ms> after a program first opened the port
//     +<ms> <text>    <ms> after the previous entry
// <text> is a line for the gateway to send (escapes resolved, CR LF appended), or, when
// it begins with "@", a control directive (see SimLoop) such as "@ack off" or "@hangup".
// Escapes: \r \n \t \\ and \xHH.
// Thread: single-threaded.

#include "SimTypes.h"

#include <string>
#include <vector>

namespace gwsim {

std::string Unescape(const std::string& text);

class ControlScript {
public:
    // Reads the file; false with `error` naming the file and line on a bad entry.
    bool Load(const std::string& path, std::string& error);
    bool IsEmpty() const { return entries_.empty(); }

    void Start(Millis now);
    bool IsStarted() const { return started_; }
    // Directives due at `now`, in script order; lines to send come as "send <text>".
    std::vector<std::string> TakeDue(Millis now);
    Millis NextDue() const;

private:
    struct Entry {
        Millis offsetMs;
        std::string directive;
    };
    std::vector<Entry> entries_;
    std::size_t next_ = 0;
    Millis startedAt_ = 0;
    bool started_ = false;
};

} // namespace gwsim
