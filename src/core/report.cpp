#include "core/report.h"

#include <cstdint>
#include <new>
#include <stdexcept>

#include "core/console.h"
#include "core/failure.h"
#include "platform/console.h"
#include "platform/process.h"

namespace {

// The call chain of the last allocation that failed, for the report.
void* g_oom_frames[Failure::kMaxFrames];
int g_oom_frame_count = 0;

void OnOutOfMemory() {
  g_oom_frame_count = platform::CaptureCallChain(g_oom_frames, Failure::kMaxFrames, 1);
  throw std::bad_alloc();
}

void AppendAddress(std::string& out, const void* address) {
  static const char kDigits[] = "0123456789ABCDEF";
  auto value = reinterpret_cast<std::uintptr_t>(address);
  out += '$';
  for (int shift = static_cast<int>(sizeof value) * 8 - 4; shift >= 0; shift -= 4) {
    out += kDigits[(value >> shift) & 0xF];
  }
}

}  // namespace

std::string FormatFailureReport(const char* kind, const std::string& message,
                                void* const* frames, int frame_count) {
  const std::string_view line_end = platform::kLineEnd;
  std::string out = "An unhandled exception occurred at ";
  AppendAddress(out, frame_count > 0 ? frames[0] : nullptr);
  out += ':';
  out += line_end;
  out += kind;
  out += ": ";
  // The message may quote a name or a field of a crafted text.
  out += Printable(message);
  out += line_end;
  for (int i = 0; i < frame_count; ++i) {
    out += "  ";
    AppendAddress(out, frames[i]);
    out += line_end;
  }
  out += line_end;
  return out;
}

std::string PreparedFailureReport(const char* kind, const std::string& message) {
  void* frames[Failure::kMaxFrames];
  const int count = platform::CaptureCallChain(frames, Failure::kMaxFrames, 1);
  return FormatFailureReport(kind, message, frames, count);
}

void InstallOutOfMemoryHandler() { std::set_new_handler(OnOutOfMemory); }

void ReportCurrentException() {
  std::string report;
  // Without a chain recorded where the error arose, the catch site stands in.
  void* frames[Failure::kMaxFrames];
  const int count = platform::CaptureCallChain(frames, Failure::kMaxFrames, 1);
  try {
    throw;
  } catch (const Failure& failure) {
    report = FormatFailureReport(failure.kind, failure.message, failure.frames, failure.frame_count);
  } catch (const std::bad_alloc&) {
    report = FormatFailureReport(kOutOfMemory, "Out of memory", g_oom_frames, g_oom_frame_count);
  } catch (const std::length_error&) {
    // A size beyond what a container can hold: memory could never suffice.
    report = FormatFailureReport(kOutOfMemory, "Out of memory", frames, count);
  } catch (const std::exception& other) {
    report = FormatFailureReport(kOtherError, other.what(), frames, count);
  } catch (...) {
    // Thrown, yet no exception: nothing to tell of it but that.
    report = FormatFailureReport(kOtherError, "Unknown exception", frames, count);
  }
  // The report follows whatever the console showed, in the console's own
  // colours.
  platform::ConsoleClose();
  platform::WriteStandardError(report);
}
