#pragma once
// TAfPortProbe: tells for a port number whether its device exists and whether
// another open holds it, without opening the device. Opening a tty can raise
// DTR and reset an attached gateway, so the probe looks only at the file
// system, sysfs and the system's lock tables:
//   missing  no path, not a character device, or a serial node whose sysfs
//            "type" says no UART is behind it;
//   in use   a flock on the device's inode is listed in /proc/locks (every
//            port this system opens holds one), or a live UUCP lock file
//            LCK..<name> exists in /run/lock or /var/lock;
//   free     otherwise.
// Trade-off: a program that holds a port only through TIOCEXCL, with neither
// lock, is reported free; opening it then fails with "Can't open device COM<n>".
//
// The lock table is read once at construction: build a probe per list rebuild.
// Thread: any thread.

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

enum TAfPortState : uint16_t { psInUse = 0, psFree = 1, psMissing = 2 };

class TAfPortProbe {
 public:
  TAfPortProbe();
  TAfPortState Probe(int portNumber) const;
  TAfPortState ProbePath(const std::string& path) const;
  // The process that holds the device's lock (kernel lock table first, then a live
  // UUCP lock file); 0 when neither names one.
  long HolderPid(const std::string& path) const;

 private:
  // The live owner of LCK..<name>, or 0.
  long UucpLockPid(const std::string& deviceName) const;
  // (major, minor, inode) of every file with a lock, and the process holding it.
  std::map<std::tuple<unsigned, unsigned, unsigned long>, long> m_locked;
};
