#include "Trace.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "Clock.h"
#include "MyFunctions.h"
#include "UniqueFd.h"

namespace {

std::mutex g_mutex;
TUniqueFd g_file;

std::string Stamp() {
  const TDateTimeParts t = DecodeDateTime(Now());
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return text;
}

bool IsSecretName(std::string_view name) {
  const std::string lower = LowerText(std::string(name));
  for (const char* word : {"key", "secret", "password", "token"})
    if (lower.find(word) != std::string::npos) return true;
  return false;
}

}  // namespace

namespace Trace {

std::atomic<bool> g_enabled{false};

bool Open(const std::string& path, std::string* error) {
  TUniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0600));
  if (!file.valid()) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  std::lock_guard lock(g_mutex);
  g_file = std::move(file);
  g_enabled = true;
  return true;
}

void Close() {
  std::lock_guard lock(g_mutex);
  g_enabled = false;
  g_file.reset();
}

void Line(std::string_view text) {
  if (!g_enabled) return;
  std::string line = Stamp();
  line.reserve(line.size() + text.size() + 2);
  line += ' ';
  for (const char c : text) {
    if (c == '\r') line += "\\r";
    else if (c == '\n') line += "\\n";
    else line += c;
  }
  line += '\n';
  std::lock_guard lock(g_mutex);
  if (!g_file.valid()) return;
  // One write per line; a short write (a full disk) is finished, an error drops
  // the rest of the line: a trace must never stop the program.
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(g_file.get(), line.data() + done, line.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EINTR) continue;
    else break;
  }
}

std::string MaskedUrl(std::string_view url) {
  std::string out(url);
  // user:password@ in the authority.
  const std::size_t scheme = out.find("://");
  const std::size_t authority = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t authorityEnd = out.find_first_of("/?#", authority);
  const std::size_t at = out.rfind('@', authorityEnd == std::string::npos ? out.size() : authorityEnd);
  if (at != std::string::npos && at >= authority) out.replace(authority, at - authority, "***");

  const std::size_t query = out.find('?');
  if (query == std::string::npos) return out;
  const std::size_t fragment = out.find('#', query);
  const std::size_t end = fragment == std::string::npos ? out.size() : fragment;
  std::string masked = out.substr(0, query + 1);
  std::size_t from = query + 1;
  while (from <= end) {
    std::size_t amp = out.find('&', from);
    if (amp == std::string::npos || amp > end) amp = end;
    const std::string_view pair(out.data() + from, amp - from);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && IsSecretName(pair.substr(0, equals)))
      masked.append(pair.substr(0, equals + 1)).append("***");
    else
      masked.append(pair);
    if (amp == end) break;
    masked += '&';
    from = amp + 1;
  }
  masked.append(out, end, std::string::npos);
  return masked;
}

void TraceRequest(std::string_view method, std::string_view url, int status, std::int64_t elapsedMs) {
  if (!Enabled()) return;
  Line("HTTP " + std::string(method) + " " + MaskedUrl(url) + " -> " +
       (status > 0 ? std::to_string(status) : std::string("no answer")) + " (" + std::to_string(elapsedMs) +
       " ms)");
}

}  // namespace Trace
