#pragma once
// Exceptions that reach the main thread through the call-in facility go to a
// text the test can check, rather than to a message box nobody closes.

#include <exception>
#include <string>

#include "serial/AfSafeSync.h"

// The text of the E that action raises, or "(no error)".
template <typename E, typename F>
std::string ErrorText(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return "(no error)";
}

inline void CaptureExceptionText(std::string& into) {
  AfSafeSync::SetExceptionHandler([&into](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      into = e.what();
    }
  });
}
