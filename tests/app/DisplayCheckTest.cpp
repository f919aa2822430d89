// The check made before the application object: a clear word instead of Qt's
// abort when the window has nowhere to go.
#include "DisplayCheck.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <map>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A listening socket standing in for a Wayland compositor's.
struct FakeCompositor {
  explicit FakeCompositor(const std::string& path) : fd(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 1) == 0;
  }
  ~FakeCompositor() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
  bool bound = false;
};

TEST(DisplayCheck, SpeaksOnlyWhenNoDisplayIsReachableAndNoPlatformChosen) {
  QTemporaryDir runtime;
  FakeCompositor compositor(runtime.filePath(QStringLiteral("wayland-7")).toStdString());
  ASSERT_TRUE(compositor.bound);
  // A socket file whose server is gone.
  FakeCompositor gone(runtime.filePath(QStringLiteral("wayland-1")).toStdString());
  ::close(gone.fd);
  gone.fd = -1;
  using Environment = std::map<std::string, std::string>;
  const std::string runtimeDir = runtime.path().toStdString();
  const struct {
    const char* what;
    Environment environment;
    std::vector<std::string> arguments;
    const char* says;  // nullptr: the window is tried
  } cases[] = {
      {"nothing set", {}, {}, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
      {"set but empty", {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, {}, "neither DISPLAY nor WAYLAND_DISPLAY"},
      {"platform chosen", {{"QT_QPA_PLATFORM", "offscreen"}}, {}, nullptr},
      {"headless provisioning", {}, {"orvane-monitor", "--provision"}, nullptr},
      {"local X server without a socket", {{"DISPLAY", ":98765"}}, {}, "no X server answers on DISPLAY=:98765"},
      {"remote X display, left to Qt", {{"DISPLAY", "build-host:10.0"}}, {}, nullptr},
      {"Wayland socket present", {{"WAYLAND_DISPLAY", "wayland-7"}, {"XDG_RUNTIME_DIR", runtimeDir}}, {}, nullptr},
      {"Wayland socket by full path", {{"WAYLAND_DISPLAY", runtimeDir + "/wayland-7"}}, {}, nullptr},
      {"Wayland socket left by a compositor that is gone",
       {{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_RUNTIME_DIR", runtimeDir}},
       {},
       "no Wayland compositor answers"},
      {"Wayland without its socket",
       {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", runtimeDir}},
       {},
       "no Wayland compositor answers on WAYLAND_DISPLAY=wayland-0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto message = NoDisplayMessage(c.arguments, [&](const char* name) -> std::optional<std::string> {
      const auto it = c.environment.find(name);
      if (it == c.environment.end()) return std::nullopt;
      return it->second;
    });
    ASSERT_EQ(message.has_value(), c.says != nullptr) << message.value_or("");
    if (!message) continue;
    EXPECT_NE(message->find(c.says), std::string::npos) << *message;
    // What to do instead is always said.
    for (const char* remedy : {"xvfb-run", "QT_QPA_PLATFORM=offscreen", "--provision"})
      EXPECT_NE(message->find(remedy), std::string::npos) << remedy;
  }
}

}  // namespace
