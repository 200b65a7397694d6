// Failures the user is told about in one line, and the exit statuses they give.
#pragma once

#include <stdexcept>
#include <string>

namespace vexlor::cli {

inline constexpr int kExitData = 1;   // bad input, unreadable or unwritable files
inline constexpr int kExitUsage = 2;  // bad command line

// A failure the user is told about in one line; main prints it and exits
// with its status.
struct Failure : std::runtime_error {
  int status;
  Failure(int s, const std::string& message) : std::runtime_error(message), status(s) {}
};

[[noreturn]] void FailUsage(const std::string& message);
[[noreturn]] void FailData(const std::string& message);
// "what: strerror(errno)" as a data failure.
[[noreturn]] void FailErrno(const std::string& what);

}  // namespace vexlor::cli
