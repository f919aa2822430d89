#include "AfOpenFailure.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <vector>

#include "AfPortProbe.h"

namespace {

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->gr_name;
  return std::to_string(gid);
}

std::string ProcessName(long pid) {
  std::string name;
  std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
  return name;
}

}  // namespace

std::string DescribeOpenFailure(const std::string& path, int error) {
  if (error == EACCES || error == EPERM) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "permission denied for " + path;
    const std::string group = GroupName(st.st_gid);
    return "permission denied for " + path + ", which belongs to group " + group +
           "; the user must be a member of group " + group + " (then log in again)";
  }
  if (error == EWOULDBLOCK || error == EBUSY) {
    const long pid = TAfPortProbe().HolderPid(path);
    if (pid <= 0) return path + " is in use by another program";
    const std::string name = ProcessName(pid);
    return path + " is in use by process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
  }
  return path + ": " + std::strerror(error);
}
