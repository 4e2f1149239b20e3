#include "core/failure.h"

#include "platform/process.h"

void RaiseFailure(const char* kind, std::string message) {
  Failure failure;
  failure.kind = kind;
  failure.message = std::move(message);
  failure.frame_count = platform::CaptureCallChain(failure.frames, Failure::kMaxFrames, 1);
  throw failure;
}
