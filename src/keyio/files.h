// Whole-file reading and writing: each call opens its file, moves the whole
// content and closes it again. Failures end the process through the failure
// report.
#pragma once

#include <cstdint>
#include <string>

#include "cli/values.h"

// The whole content of an existing file.
ByteString ReadWholeFile(const std::string& path);

// Like ReadWholeFile, but when the file's size lies outside min to max bytes
// nothing is read and the result is false: a far too large file is refused
// without the wait for reading it.
bool ReadWholeFileWithin(const std::string& path, std::int64_t min, std::int64_t max,
                         ByteString& content);

// Replaces whatever is at path by exactly the bytes of content. The bytes
// go to a new file beside path that is renamed over it only once complete,
// so a failure leaves an existing file as it was.
void WriteWholeFile(const std::string& path, const ByteString& content);
