#pragma once
// Why a serial device could not be opened, in words a technician can act on:
//   permission   names the device and the group that owns it (usually dialout)
//                and says that the user must be a member of it;
//   in use       names the process that holds the device, from the kernel's lock
//                table or a UUCP lock file, when either shows it;
//   otherwise    the device and the system's text for the error.
//
// Thread: any thread. Reads /proc and the lock folders; never opens the device.

#include <string>

// error: the errno of the failed open step.
std::string DescribeOpenFailure(const std::string& path, int error);
