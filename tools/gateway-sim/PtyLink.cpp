#include "PtyLink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace gwsim {

namespace {

std::string Describe(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

} // namespace

PtyLink::~PtyLink() { Unplug(); }

PtyLink::PtyLink(PtyLink&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slavePath_(std::move(other.slavePath_)),
      linkPath_(std::move(other.linkPath_)) {}

PtyLink& PtyLink::operator=(PtyLink&& other) noexcept {
    if (this != &other) {
        Unplug();
        master_ = std::exchange(other.master_, -1);
        slavePath_ = std::move(other.slavePath_);
        linkPath_ = std::move(other.linkPath_);
    }
    return *this;
}

bool PtyLink::Create(const std::string& linkPath, std::string& error) {
    Unplug();
    struct stat existing {};
    if (lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = linkPath + " exists and is not a symbolic link";
        return false;
    }

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error = Describe("openpty", errno);
        return false;
    }
    // Raw 8N1 at 9600 with the receiver on: the line settings of the gateway's port. They
    // live with the pty, so a program opening the slave later finds them in place.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        tcsetattr(slave, TCSANOW, &tio);
    }
    close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);

    // Publish atomically: a program polling the link never sees it missing or half made.
    const std::string temporary = linkPath + ".tmp" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(name, temporary.c_str()) != 0 || rename(temporary.c_str(), linkPath.c_str()) != 0) {
        error = Describe(("cannot publish " + linkPath).c_str(), errno);
        unlink(temporary.c_str());
        close(master);
        return false;
    }
    master_ = master;
    slavePath_ = name;
    linkPath_ = linkPath;
    return true;
}

bool PtyLink::HasListener() const {
    if (master_ < 0) return false;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 0) < 0) return false;
    // Unread input means a program wrote, so it has (or just had) the port open.
    return (p.revents & POLLIN) || !(p.revents & POLLHUP);
}

void PtyLink::Unplug() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
    if (!linkPath_.empty()) {
        // Remove only our own link: a newer simulator may have taken the path over.
        char target[256] = {};
        const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && slavePath_ == std::string(target, static_cast<std::size_t>(n))) unlink(linkPath_.c_str());
        linkPath_.clear();
    }
}

} // namespace gwsim
