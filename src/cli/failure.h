// Failures the flow does not test for itself: they abandon the command and
// end the process through the failure report with exit status 217.
#pragma once

#include <exception>
#include <string>

inline constexpr int kFailureExitStatus = 217;

// Error kinds named in the report.
inline constexpr const char* kFileError = "FileError";
inline constexpr const char* kConversionError = "ConversionError";
inline constexpr const char* kRangeError = "RangeError";
inline constexpr const char* kOutOfMemory = "OutOfMemory";

struct Failure : std::exception {
  const char* kind;
  std::string message;
  static constexpr int kMaxFrames = 32;
  void* frames[kMaxFrames];  // the call chain where the failure was raised
  int frame_count = 0;
  const char* what() const noexcept override { return message.c_str(); }
};

// Raises a failure of the given kind, recording the caller's call chain.
[[noreturn]] void RaiseFailure(const char* kind, std::string message);

// The report a failure of the given kind raised here would give, made
// ready for a handler that may not format anything when it happens.
std::string PreparedFailureReport(const char* kind, const std::string& message);

// Installs the handler that turns exhausted memory into a failure that
// carries the call chain of the allocation that failed.
void InstallOutOfMemoryHandler();

// The report for a failure: the heading with the failing address, the kind
// and message, one line per code address, and an empty line.
std::string FormatFailureReport(const char* kind, const std::string& message,
                                void* const* frames, int frame_count,
                                std::string_view line_end);

// Writes the report for the exception in flight (a Failure, exhausted
// memory, or anything else) to stderr. Call from inside a catch block.
void ReportCurrentException();
