#include "DisplayCheck.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/UniqueFd.h"

namespace {

// Whether a server accepts on this Unix socket (a name starting with '\0' is
// in the abstract namespace). A stale socket file of a server that is gone
// refuses, as it should.
bool Answers(const std::string& name) {
  sockaddr_un address{};
  if (name.empty() || name.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  name.copy(address.sun_path, name.size());
  // Not blocking: a server whose backlog is full answers EAGAIN, and is there.
  TUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (name[0] == '\0' ? 0 : 1));
  return fd.valid() && (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0 || errno == EAGAIN);
}

std::string NonEmpty(const TEnvironmentLookup& environment, const char* name) {
  const std::optional<std::string> value = environment(name);
  return value ? *value : std::string();
}

// ":0", ":0.1" and "unix:0" are this machine's X server on /tmp/.X11-unix/X0,
// or on the same name in the abstract namespace (containers that do not share
// /tmp still share that); a host name or an ssh-forwarded display is not
// checked here (connecting is Qt's business).
bool XDisplayReachable(const std::string& display) {
  std::string rest;
  if (display.rfind(':', 0) == 0)
    rest = display.substr(1);
  else if (display.rfind("unix:", 0) == 0)
    rest = display.substr(5);
  else
    return true;
  const std::string number = rest.substr(0, rest.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return true;
  const std::string socket = "/tmp/.X11-unix/X" + number;
  return Answers(socket) || Answers(std::string(1, '\0') + socket);
}

bool WaylandReachable(const std::string& display, const std::string& runtimeDir) {
  if (display.front() == '/') return Answers(display);
  // Without a runtime folder the compositor's socket cannot be found, and Qt
  // cannot find it either.
  return !runtimeDir.empty() && Answers(runtimeDir + "/" + display);
}

}  // namespace

TEnvironmentLookup ProcessEnvironment() {
  return [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
  };
}

std::optional<std::string> NoDisplayMessage(const std::vector<std::string>& arguments,
                                            const TEnvironmentLookup& environment) {
  if (!NonEmpty(environment, "QT_QPA_PLATFORM").empty()) return std::nullopt;
  for (const std::string& argument : arguments)
    if (argument == "-platform" || argument == "--platform" || argument.rfind("-platform=", 0) == 0 ||
        argument == "--provision" || argument.rfind("--provision=", 0) == 0)
      return std::nullopt;

  const std::string x11 = NonEmpty(environment, "DISPLAY");
  const std::string wayland = NonEmpty(environment, "WAYLAND_DISPLAY");
  if ((!x11.empty() && XDisplayReachable(x11)) ||
      (!wayland.empty() && WaylandReachable(wayland, NonEmpty(environment, "XDG_RUNTIME_DIR"))))
    return std::nullopt;

  std::string why;
  if (x11.empty() && wayland.empty())
    why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  else if (!x11.empty())
    why = "no X server answers on DISPLAY=" + x11 + (wayland.empty() ? "" : " nor a Wayland compositor on WAYLAND_DISPLAY=" + wayland);
  else
    why = "no Wayland compositor answers on WAYLAND_DISPLAY=" + wayland;
  return "orvane-monitor: no display to show the window on (" + why +
         ").\n"
         "The window needs a graphical session (X11 or Wayland, named by DISPLAY or WAYLAND_DISPLAY).\n"
         "Without one:\n"
         "  xvfb-run orvane-monitor ...                 the window on a virtual X display\n"
         "  QT_QPA_PLATFORM=offscreen orvane-monitor ... the window without any display (nothing is seen)\n"
         "  orvane-monitor --provision ...              set up a gateway headless (see --help)\n";
}
