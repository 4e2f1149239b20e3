#include "cli/naming.h"

#include "keyio/files.h"
#include "platform/files.h"

namespace {

constexpr std::string_view kSeparators = "\\/:";
// A name without a dot is cut after this many characters.
constexpr std::size_t kLongestBaseName = 200;

std::size_t FileNameStart(std::string_view path) {
  const auto last = path.find_last_of(kSeparators);
  return last == std::string_view::npos ? 0 : last + 1;
}

std::string_view DirectoryPart(std::string_view path) { return path.substr(0, FileNameStart(path)); }

std::string_view FileNamePart(std::string_view path) { return path.substr(FileNameStart(path)); }

// Byte offset of the character after the first count characters of text.
// Paths are UTF-8 on Windows and usually on POSIX: a character is a lead
// byte and the continuation bytes (10xxxxxx) after it, so that a name is
// never cut inside a character, and "the first three characters" are the
// same three that a single-byte code page would give.
std::size_t CharactersEnd(std::string_view text, std::size_t count) {
  std::size_t at = 0;
  for (; count > 0 && at < text.size(); --count) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return at;
}

// The characters from 1-based start on, at most count of them.
std::string_view Substring(std::string_view text, std::size_t start, std::size_t count) {
  if (start < 1) return {};
  text.remove_prefix(CharactersEnd(text, start - 1));
  return text.substr(0, CharactersEnd(text, count));
}

std::string_view Trimmed(std::string_view text) {
  auto low = [](char c) { return static_cast<unsigned char>(c) < 33; };
  while (!text.empty() && low(text.front())) text.remove_prefix(1);
  while (!text.empty() && low(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string_view ExtensionOf(std::string_view path) {
  const auto last = path.find_last_of("\\/:.");
  if (last == std::string_view::npos || path[last] != '.') return {};
  // A name that begins with its only dot (.profile) has no extension.
  if (last == 0 || path[last - 1] == '\\' || path[last - 1] == '/') return {};
  return path.substr(last);
}

bool HasTvxExtension(std::string_view path) {
  const std::string_view extension = ExtensionOf(path);
  if (extension.size() != 4) return false;
  std::string lower(extension);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower == ".tvx";
}

std::string EncryptedOutputPath(std::string_view input, std::string_view output) {
  std::string path(DirectoryPart(output));
  path += Substring(ExtensionOf(input), 2, 3);
  path += '#';
  path += FileNamePart(output);
  return path;
}

std::string DecryptedOutputPath(std::string_view input, std::string_view output) {
  const std::string_view name = FileNamePart(output);
  const auto dot = name.find('.');
  const std::string_view base =
      dot == std::string_view::npos ? Substring(name, 1, kLongestBaseName) : name.substr(0, dot);
  std::string path(DirectoryPart(output));
  path += Trimmed(base);
  path += '.';
  path += Substring(FileNamePart(input), 1, 3);
  return path;
}

bool ProbeWritable(const std::string& path) {
  const platform::OutputSite site = platform::LookAtOutput(path);
  // A folder that keeps what is put in it would keep the probe file, and
  // the run's temporary file after a failure: nothing is tried there.
  if (site.folder_keeps_entries) return false;
  if (site.kind == platform::PathKind::kNothing) {
    // Registered while it exists: an interruption leaves nothing behind. A
    // probe file that stays is a failed probe.
    platform::TempFile probe;
    const platform::FileHandle file = platform::CreateNewFile(path, probe);
    if (file == platform::kNoFile) return false;
    platform::CloseFile(file);
    return platform::DeleteTemp(probe);
  }
  // Anything else is never truncated or removed here, nor a link followed
  // or a FIFO opened: a failed run must not cost the user what stands
  // there. An existing file we may not write is refused as the open for
  // writing would refuse it; otherwise one of the run's ways must be open.
  // What permissions cannot foretell (no space, no inodes) fails the run.
  if (site.kind == platform::PathKind::kFile && !site.writable) return false;
  const OutputPlan plan = PlanOutput(site);
  return (plan.replace && site.folder_takes_files) || plan.in_place;
}
