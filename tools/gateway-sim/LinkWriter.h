#pragma once
// Bytes on their way from the gateway to the serial line.
//
// With a split size the bytes leave in pieces of at most that many bytes with a pause
// between them, the way a slow UART or a USB adapter delivers them, so the reader must
// assemble lines across reads. A backlog beyond a limit (nobody reads) drops whole new
// lines, as a real device overruns.
// Thread: single-threaded.

#include "SimTypes.h"

#include <cstddef>
#include <string>

namespace gwsim {

class LinkWriter {
public:
    LinkWriter(std::size_t splitBytes, Millis splitGapMs) : splitBytes_(splitBytes), splitGapMs_(splitGapMs) {}

    void Queue(const std::string& bytes);
    bool HasPending() const { return offset_ < pending_.size(); }
    // When the next piece may be written.
    Millis NextWriteAt() const { return notBefore_; }
    // Writes what may go now. Returns false when the descriptor failed for good (the
    // other end hung up); a full descriptor is not a failure.
    bool Flush(int fd, Millis now);
    void Clear();

private:
    static constexpr std::size_t kBacklogLimit = 64 * 1024;
    std::size_t splitBytes_;
    Millis splitGapMs_;
    std::string pending_;
    std::size_t offset_ = 0;
    Millis notBefore_ = 0;
};

} // namespace gwsim
