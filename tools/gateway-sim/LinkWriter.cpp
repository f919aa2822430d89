#include "LinkWriter.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace gwsim {

void LinkWriter::Queue(const std::string& bytes) {
    if (pending_.size() - offset_ + bytes.size() > kBacklogLimit) return;
    if (offset_ > 0 && offset_ == pending_.size()) {
        pending_.clear();
        offset_ = 0;
    }
    pending_ += bytes;
}

bool LinkWriter::Flush(int fd, Millis now) {
    while (HasPending() && now >= notBefore_) {
        std::size_t size = pending_.size() - offset_;
        if (splitBytes_ > 0) size = std::min(size, splitBytes_);
        const ssize_t written = write(fd, pending_.data() + offset_, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        offset_ += static_cast<std::size_t>(written);
        if (splitBytes_ > 0) notBefore_ = now + splitGapMs_;
    }
    if (!HasPending()) {
        pending_.clear();
        offset_ = 0;
    }
    return true;
}

void LinkWriter::Clear() {
    pending_.clear();
    offset_ = 0;
}

} // namespace gwsim
