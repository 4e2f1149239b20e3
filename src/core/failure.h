// Failures the flow does not test for itself: they abandon the command and
// end the process through the failure report (core/report.h) with exit
// status 217. Every part of the tool may raise them.
#pragma once

#include <exception>
#include <string>

inline constexpr int kFailureExitStatus = 217;

// Error kinds named in the report.
inline constexpr const char* kFileError = "FileError";
inline constexpr const char* kConversionError = "ConversionError";
inline constexpr const char* kRangeError = "RangeError";
inline constexpr const char* kOutOfMemory = "OutOfMemory";
inline constexpr const char* kOtherError = "Error";  // any other exception

struct Failure : std::exception {
  const char* kind = kOtherError;
  std::string message;
  static constexpr int kMaxFrames = 32;
  void* frames[kMaxFrames];  // the call chain where the failure was raised
  int frame_count = 0;
  const char* what() const noexcept override { return message.c_str(); }
};

// Raises a failure of the given kind, recording the caller's call chain.
[[noreturn]] void RaiseFailure(const char* kind, std::string message);
