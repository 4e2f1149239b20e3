#include "keyio/files.h"

#include "cli/failure.h"
#include "platform/files.h"

namespace {

std::string Quoted(const char* what, const std::string& path) {
  return std::string(what) + " \"" + path + "\"";
}

// Closes a file on every way out of a call, the failing ones included.
struct CloseOnExit {
  platform::FileHandle file;
  ~CloseOnExit() {
    if (file != platform::kNoFile) platform::CloseFile(file);
  }
};

// Removes a temporary file unless it was completed and renamed.
struct DeleteOnExit {
  const std::string& path;
  bool keep = false;
  ~DeleteOnExit() {
    if (!keep) platform::DeleteFile(path);
  }
};

}  // namespace

bool ReadWholeFileWithin(const std::string& path, std::int64_t min, std::int64_t max,
                         ByteString& content) {
  const platform::FileHandle file = platform::OpenForReading(path);
  if (file == platform::kNoFile) RaiseFailure(kFileError, Quoted("Unable to open file", path));
  CloseOnExit closer{file};
  const std::int64_t size = platform::FileSize(file);
  if (size < 0) RaiseFailure(kFileError, Quoted("Unable to read file", path));
  if (size < min || size > max) return false;
  content.clear();
  content.resize(static_cast<std::size_t>(size));
  std::int64_t done = 0;
  while (done < size) {
    const std::int64_t n = platform::ReadSome(file, content.data() + done, size - done);
    // A file that shrank since its size was taken, or a device error: never
    // hand on short or made-up content.
    if (n <= 0) RaiseFailure(kFileError, Quoted("Unable to read file", path));
    done += n;
  }
  return true;
}

ByteString ReadWholeFile(const std::string& path) {
  ByteString content;
  ReadWholeFileWithin(path, 0, INT64_MAX, content);
  return content;
}

void WriteWholeFile(const std::string& path, const ByteString& content) {
  std::string temp_path;
  const platform::FileHandle file = platform::CreateTempBeside(path, temp_path);
  if (file == platform::kNoFile) RaiseFailure(kFileError, Quoted("Unable to create file", path));
  DeleteOnExit remover{temp_path};
  {
    CloseOnExit closer{file};
    const auto size = static_cast<std::int64_t>(content.size());
    std::int64_t done = 0;
    while (done < size) {
      const std::int64_t n = platform::WriteSome(file, content.data() + done, size - done);
      if (n <= 0) RaiseFailure(kFileError, "Stream write error");
      done += n;
    }
    closer.file = platform::kNoFile;
    // A failed close can mean data that never reached the disk.
    if (!platform::CloseFile(file)) RaiseFailure(kFileError, "Stream write error");
  }
  if (!platform::ReplaceFile(temp_path, path)) {
    RaiseFailure(kFileError, Quoted("Unable to create file", path));
  }
  remover.keep = true;
}
