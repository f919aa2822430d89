#include "AfPortProbe.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "PortMap.h"

namespace {

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ResolvedPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string out(resolved);
  std::free(resolved);
  return out;
}

// The 8250 driver keeps /dev/ttyS<n> nodes for every configured line, present
// or not; sysfs reports UART type 0 (unknown) for the absent ones.
bool IsPlaceholderUart(const std::string& name) {
  if (name.rfind("ttyS", 0) != 0) return false;
  std::ifstream type("/sys/class/tty/" + name + "/type");
  int value = -1;
  return type >> value && value == 0;
}

// How /proc/locks names a file: the device of its file system and its inode.
std::tuple<unsigned, unsigned, unsigned long> LockKey(const struct stat& st) {
  return {::major(st.st_dev), ::minor(st.st_dev), static_cast<unsigned long>(st.st_ino)};
}

bool ProcessAlive(long pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

TAfPortProbe::TAfPortProbe() {
  // Lines look like "1: FLOCK  ADVISORY  WRITE 6001 00:1a:3 0 EOF"; waiters
  // carry "->" and hold nothing yet.
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    if (line.find("->") != std::string::npos) continue;
    std::istringstream fields(line);
    std::string field, previous;
    while (fields >> field) {
      unsigned major = 0, minor = 0;
      unsigned long inode = 0;
      char tail = 0;
      if (std::sscanf(field.c_str(), "%x:%x:%lu%c", &major, &minor, &inode, &tail) == 3) {
        m_locked.emplace(std::make_tuple(major, minor, inode), std::strtol(previous.c_str(), nullptr, 10));
        break;
      }
      previous = field;
    }
  }
}

long TAfPortProbe::UucpLockPid(const std::string& deviceName) const {
  for (const char* dir : {"/run/lock/", "/var/lock/"}) {
    std::ifstream file(std::string(dir) + "LCK.." + deviceName, std::ios::binary);
    if (!file) continue;
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    long pid = 0;
    // Lock files hold the owner's pid as text (HDB style) or as a 4-byte int.
    if (content.size() == 4 && !std::isdigit(static_cast<unsigned char>(content[0]))) {
      int32_t binary = 0;
      std::memcpy(&binary, content.data(), 4);
      pid = binary;
    } else {
      pid = std::strtol(content.c_str(), nullptr, 10);
    }
    if (ProcessAlive(pid)) return pid;
  }
  return 0;
}

TAfPortState TAfPortProbe::ProbePath(const std::string& path) const {
  if (path.empty()) return psMissing;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return psMissing;
  const std::string name = BaseName(ResolvedPath(path));
  if (IsPlaceholderUart(name)) return psMissing;
  if (m_locked.count(LockKey(st))) return psInUse;
  if (UucpLockPid(name) > 0 || UucpLockPid(BaseName(path)) > 0) return psInUse;
  return psFree;
}

long TAfPortProbe::HolderPid(const std::string& path) const {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  const auto locked = m_locked.find(LockKey(st));
  if (locked != m_locked.end() && locked->second > 0) return locked->second;
  if (const long pid = UucpLockPid(BaseName(ResolvedPath(path)))) return pid;
  return UucpLockPid(BaseName(path));
}

TAfPortState TAfPortProbe::Probe(int portNumber) const { return ProbePath(PortMap::DevicePath(portNumber)); }
