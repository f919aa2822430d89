#pragma once
// The trace file (--trace): one line per event with a wall-clock stamp to the
// millisecond, "2026-12-08 09:41:07.215 <text>". The file is appended to and
// every line reaches it in one write(2) on an unbuffered descriptor, so what was
// written is there even when the program is killed a moment later.
//
// One process-wide sink, off until Open succeeds. Lines are whole: a line's text
// never holds a CR or LF (they are written as \r and \n), and writers on
// different threads never interleave within a line.
//
// The gateway link traces every command it sends ("> %info") and every line it
// receives ("< OK info"). Cloud requests are traced once each, when their answer
// is in (or the request failed), through TraceRequest:
//   TraceRequest("POST", url, 201, elapsedMs);     // status 0: no answer
// which writes "HTTP POST <url> -> 201 (143 ms)". Query values whose name holds
// "key", "secret", "password" or "token" (any letter case) and the user
// information of the URL are written as "***"; no header or body is traced.
//
// Thread: every function may be called from any thread. The stamp comes from
// Now() (support/Clock.h), so tests can fix it.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace Trace {

// Starts tracing to the file at path (created with mode 0600 when missing,
// appended to otherwise), replacing any earlier file. False with error set
// (the system's reason) when it cannot be opened; tracing then stays as it was.
bool Open(const std::string& path, std::string* error = nullptr);
// Stops tracing and closes the file.
void Close();
// Read for every gateway line, hence inline and without a lock.
extern std::atomic<bool> g_enabled;
inline bool Enabled() { return g_enabled.load(std::memory_order_relaxed); }

// Writes "<stamp> <text>" and a LF; nothing while tracing is off.
void Line(std::string_view text);

// The url as it is traced: secret query values and user information masked.
std::string MaskedUrl(std::string_view url);
void TraceRequest(std::string_view method, std::string_view url, int status, std::int64_t elapsedMs);

}  // namespace Trace
