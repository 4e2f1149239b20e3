#include "keyio/key.h"

#include "core/console.h"
#include "core/failure.h"
#include "core/process_values.h"
#include "core/report.h"
#include "keyio/files.h"
#include "platform/files.h"
#include "platform/mapping.h"

namespace {

// The key file as the run holds it, from its loading to ReleaseKey.
struct HeldKey {
  std::string path;
  // Open for the whole run: on Windows that keeps writers out, and on POSIX
  // its stamp can be asked for at the end.
  InputFile file;
  platform::MappedFile mapping;  // the key, when mapped
  platform::FileStamp stamp;     // of a mapped or regular key, when loaded
  ByteString copy;               // the key, when read into memory
};
HeldKey g_key;

// The page size that the lookups per page of ExpectKeyLookups count in:
// the smallest page of both platforms, whatever this system's is.
constexpr std::int64_t kPageBytes = 4096;

}  // namespace

std::string KeySizeLine(std::int64_t length) {
  return "KEYFILE SIZE: " + std::to_string(length) + " bytes -> " +
         std::to_string(ModeForKeyLength(length)) + " bit encryption";
}

bool HoldKeyWithin(const std::string& path, std::int64_t min, std::int64_t max) {
  ReleaseKey();
  g_key.path = path;
  OpenInput(g_key.file, path);
  // Mapped or copied, the key gives the same texts and bytes. A copy costs
  // its whole size before the first lookup (0.03 s for 16 MiB, 2.3 s for
  // 1,000,000,000 bytes on tmpfs) and as much memory of the tool's own; a
  // mapping costs nothing until looked up, and its lookups were as fast as
  // a copy's in ordinary pages (7.3 against 7.0 ns per byte of encryption
  // with the largest key, 2.8 against 2.9 with 16 MiB). So a regular file
  // is always mapped, where it can be.
  if (g_key.file.SizeKnown()) {
    const std::int64_t size = g_key.file.size;
    if (size < min || size > max) return false;
    if (!platform::StampOf(g_key.file.file, g_key.stamp)) {
      RaiseFailure(kFileError, UnableToReadMessage(path));
    }
    if (platform::MapForReading(g_key.file.file, size, g_key.mapping)) {
      // A key cut short under the run faults where it is looked up past its
      // new end, wherever that is: the failure report is made ready now.
      platform::EndOnFaultIn(g_key.mapping,
                             PreparedFailureReport(kFileError, UnableToReadMessage(path)),
                             kFailureExitStatus);
      KeyBytes = {g_key.mapping.data, static_cast<std::size_t>(size)};
      return true;
    }
  }
  if (!ReadWholeWithin(g_key.file, min, max, g_key.copy)) return false;
  KeyBytes = g_key.copy;
  return true;
}

bool LoadKeyFile(const std::string& path) {
  if (!platform::FileExists(path)) {
    ShowError("KEYFILE does not exist!");
    return false;
  }
  // The size on disk decides before anything is read: nobody should wait
  // for a huge file to be read only to be told it is too big.
  if (!HoldKeyWithin(path, kMinKeyLength, kMaxKeyLength)) {
    ShowError("KEYFILE SIZE must be between 100 bytes and 1 GB!");
    return false;
  }
  const auto length = static_cast<std::int64_t>(KeyBytes.size());
  CipherMode = ModeForKeyLength(length);
  ShowLine(KeySizeLine(length), true);
  return true;
}

void ExpectKeyLookups(std::int64_t count) {
  // Mapping every page at once is one pass in one thread, where faults come
  // in parallel and each maps the cached pages around it too; so it pays
  // only for runs that look up every page many times over. With the
  // largest key on tmpfs: -e of 1, 4 and 16 MiB took 0.18, 0.20 and 0.35 s
  // with it against 0.11, 0.14 and 0.28 s without, 64 MiB 1.00 against
  // 1.28 s; on a disk the pass reads the whole key ahead, in large pages,
  // 3-4 times faster than faults do.
  constexpr std::int64_t kLookupsPerPage = 128;
  if (g_key.mapping.data != nullptr &&
      count / kLookupsPerPage >= g_key.mapping.size / kPageBytes) {
    platform::MapAllPagesNow(g_key.mapping);
  }
}

void CheckKeyUnchanged() {
  if (g_key.stamp.size < 0) return;
  platform::FileStamp now;
  // A key that had no name when it was loaded (a deleted file held open
  // through /dev/fd, a memfd) has none to lose.
  if (!platform::StampOf(g_key.file.file, now) || now.size != g_key.stamp.size ||
      now.modified != g_key.stamp.modified || (now.links == 0 && g_key.stamp.links != 0)) {
    RaiseFailure(kFileError, UnableToReadMessage(g_key.path));
  }
}

void ReleaseKey() {
  KeyBytes = {};
  platform::Unmap(g_key.mapping);
  ByteString().swap(g_key.copy);
  if (g_key.file.file != platform::kNoFile) platform::CloseFile(g_key.file.file);
  g_key.file.file = platform::kNoFile;
  g_key.stamp = platform::FileStamp{};
}
