#include "PortMap.h"

#include <mutex>
#include <utility>

namespace {

std::mutex& MapMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<int, std::string>& Explicit() {
  static std::map<int, std::string> ports;
  return ports;
}

}  // namespace

namespace PortMap {

void SetExplicitPorts(std::map<int, std::string> ports) {
  std::erase_if(ports, [](const auto& entry) { return entry.first <= 0 || entry.second.empty(); });
  std::lock_guard lock(MapMutex());
  Explicit() = std::move(ports);
}

std::map<int, std::string> ExplicitPorts() {
  std::lock_guard lock(MapMutex());
  return Explicit();
}

std::string BuiltInPath(int n) {
  if (n >= 1 && n <= 32) return "/dev/ttyS" + std::to_string(n - 1);
  if (n >= 33 && n <= 64) return "/dev/ttyUSB" + std::to_string(n - 33);
  if (n >= 65 && n <= 96) return "/dev/ttyACM" + std::to_string(n - 65);
  return {};
}

std::string DevicePath(int n) {
  if (n <= 0) return {};
  {
    std::lock_guard lock(MapMutex());
    const auto it = Explicit().find(n);
    if (it != Explicit().end()) return it->second;
  }
  return BuiltInPath(n);
}

}  // namespace PortMap
