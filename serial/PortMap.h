#pragma once
// The port map: turns a port number n (the system's COMn) into a device path.
// An explicit entry wins (the application loads the settings hive's "Ports"
// section, "COM<n>" = path, into it); otherwise the built-in table:
//   COM1-32 = /dev/ttyS0-31, COM33-64 = /dev/ttyUSB0-31, COM65-96 = /dev/ttyACM0-31.
// A path may be a symbolic link to the device (udev names, a pty link).
//
// Thread: any thread; the explicit entries are under one mutex.

#include <map>
#include <string>

namespace PortMap {

// Replaces all explicit entries. Entries with n <= 0 or an empty path are ignored.
void SetExplicitPorts(std::map<int, std::string> ports);
std::map<int, std::string> ExplicitPorts();

// The built-in table's path for n; empty outside 1..96.
std::string BuiltInPath(int n);

// The path port n opens: the explicit entry, else the built-in one; empty when
// n has neither (n <= 0 or above the table without an entry).
std::string DevicePath(int n);

}  // namespace PortMap
