// The paths an encryption or decryption really writes, derived from the
// input and output arguments as typed, and the test that one can be written.
// `\`, `/` and `:` separate on every platform, so that names derive alike.
#pragma once

#include <string>
#include <string_view>

// From the last dot of the file name to the end, dot included; empty when
// the name has no dot, or its only dot begins the path or follows `\` or
// `/` (.profile has none; a:.tvx has .tvx).
std::string_view ExtensionOf(std::string_view path);

// Whether the extension, ASCII letters lower-cased, is ".tvx".
bool HasTvxExtension(std::string_view path);

// Output directory + up to three characters of the input's extension + "#"
// + the output's file name: report.docx, out.tvx -> doc#out.tvx.
std::string EncryptedOutputPath(std::string_view input, std::string_view output);

// Output directory + the output's name up to its first dot (its first 200
// characters when it has none), trimmed + "." + the first three characters
// of the input's file name: doc#out.tvx, report.txt -> report.doc.
std::string DecryptedOutputPath(std::string_view input, std::string_view output);

// True when the path can be written. An existing file is only opened for
// writing, never truncated or removed; where nothing stands one is created
// and removed again; a link, FIFO or device there is never opened, only
// tested for whether it can be replaced.
bool ProbeWritable(const std::string& path);
