// The failure report: how a failure (core/failure.h), exhausted memory or
// any other exception ends the process, on the standard error stream.
#pragma once

#include <string>

// The report for a failure: the heading with the failing address, the kind
// and message (through Printable, core/console.h), one line per code
// address, and an empty line.
std::string FormatFailureReport(const char* kind, const std::string& message,
                                void* const* frames, int frame_count);

// The report a failure of the given kind raised here would give, made
// ready for a handler that may not format anything when it happens.
std::string PreparedFailureReport(const char* kind, const std::string& message);

// Has an allocation that fails record its call chain, for the report of the
// std::bad_alloc then thrown.
void InstallOutOfMemoryHandler();

// Writes the report for the exception in flight (a Failure, exhausted
// memory, any other exception, or something thrown that is not one) to
// stderr, after the console's own colours are back. Call from inside a
// catch block.
void ReportCurrentException();
