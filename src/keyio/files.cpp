#include "keyio/files.h"

#include <algorithm>
#include <vector>

#include "core/failure.h"
#include "platform/process.h"

namespace {

std::string Quoted(const char* what, const std::string& path) {
  return std::string(what) + " \"" + path + "\"";
}

[[noreturn]] void UnableToRead(const std::string& path) {
  RaiseFailure(kFileError, UnableToReadMessage(path));
}

// Chunks of a pipe or device of unknown length, before they are joined.
constexpr std::int64_t kPipeChunk = std::int64_t{16} << 20;

// Reads a pipe or device until it ends or holds more than max bytes; false
// in that case. Chunk by chunk, and joined into content only at the end,
// so that a large key never needs twice its size while it grows.
bool ReadUnsizedWithin(InputFile& in, std::int64_t max, ByteString& content) {
  std::vector<ByteString> chunks;
  std::int64_t total = 0;
  for (;;) {
    ByteString chunk;
    chunk.resize(static_cast<std::size_t>(std::min(kPipeChunk, max + 1 - total)));
    const std::int64_t n = ReadInput(in, chunk.data(), static_cast<std::int64_t>(chunk.size()));
    chunk.resize(static_cast<std::size_t>(n));
    total += n;
    chunks.push_back(std::move(chunk));
    if (total > max) return false;
    if (n == 0) break;
  }
  content.clear();
  content.resize(static_cast<std::size_t>(total));
  platform::AdviseLargePages(content.data(), content.size());
  std::int64_t at = 0;
  for (ByteString& chunk : chunks) {
    std::copy(chunk.begin(), chunk.end(), content.begin() + at);
    at += static_cast<std::int64_t>(chunk.size());
    ByteString().swap(chunk);
  }
  return true;
}

}  // namespace

std::string UnableToReadMessage(const std::string& path) {
  return Quoted("Unable to read file", path);
}

InputFile::~InputFile() {
  if (file != platform::kNoFile) platform::CloseFile(file);
}

void OpenInput(InputFile& in, const std::string& path) {
  in.path = path;
  in.done = 0;
  in.file = platform::OpenForReading(path);
  if (in.file == platform::kNoFile) RaiseFailure(kFileError, Quoted("Unable to open file", path));
  in.size = platform::FileSize(in.file);
  if (in.size == -1) UnableToRead(path);
  // Files of /proc and /sys say they are empty and hold bytes all the same:
  // an empty file is read to its end, as a pipe is, which for a truly empty
  // one ends at once.
  if (in.size == 0) in.size = platform::kNotAFile;
}

std::int64_t ReadInput(InputFile& in, std::uint8_t* buffer, std::int64_t want) {
  // A file that grew since it was opened is read as far as its size then.
  if (in.SizeKnown()) want = std::min(want, in.size - in.done);
  std::int64_t got = 0;
  while (got < want) {
    const std::int64_t n = platform::ReadSome(in.file, buffer + got, want - got);
    if (n < 0) UnableToRead(in.path);
    if (n == 0) {
      // A file that shrank since it was opened.
      if (in.SizeKnown()) UnableToRead(in.path);
      break;
    }
    got += n;
  }
  in.done += got;
  return got;
}

std::int64_t ReadSomeInput(InputFile& in, std::uint8_t* buffer, std::int64_t want) {
  if (in.SizeKnown()) return ReadInput(in, buffer, want);
  if (want <= 0) return 0;
  const std::int64_t n = platform::ReadSome(in.file, buffer, want);
  if (n < 0) UnableToRead(in.path);
  in.done += n;
  return n;
}

bool ReadWholeWithin(InputFile& in, std::int64_t min, std::int64_t max, ByteString& content) {
  if (!in.SizeKnown()) {
    ByteString read;
    if (!ReadUnsizedWithin(in, max, read) || static_cast<std::int64_t>(read.size()) < min) return false;
    content.swap(read);
    return true;
  }
  if (in.size < min || in.size > max) return false;
  content.clear();
  content.resize(static_cast<std::size_t>(in.size));
  // Not yet touched, so the pages the read faults in can be large ones.
  platform::AdviseLargePages(content.data(), content.size());
  ReadInput(in, content.data(), in.size);
  return true;
}

// ---- Outputs ----

namespace {

// Holds a failure of the given kind in out, with the call chain of here.
void Hold(OutputFile& out, const char* kind, std::string message) {
  if (out.Failed()) return;
  try {
    RaiseFailure(kind, std::move(message));
  } catch (...) {
    out.failure = std::current_exception();
  }
}

void Close(OutputFile& out) {
  const platform::FileHandle file = out.file;
  out.file = platform::kNoFile;
  // A failed close can mean data that never reached the disk.
  if (file != platform::kNoFile && !platform::CloseFile(file)) Hold(out, kFileError, "Stream write error");
}

}  // namespace

OutputPlan PlanOutput(const platform::OutputSite& site) {
  OutputPlan plan;
  if (site.folder_keeps_entries) return plan;
  plan.replace = site.kind != platform::PathKind::kDirectory && site.may_rename_over;
  plan.in_place = site.kind == platform::PathKind::kFile && site.may_write_in_place;
  return plan;
}

OutputFile::~OutputFile() {
  // Closed first; an uncompleted new file then goes with temp.
  if (file != platform::kNoFile) platform::CloseFile(file);
}

void CreateOutput(OutputFile& out, const std::string& path) {
  out.path = path;
  const OutputPlan plan = PlanOutput(platform::LookAtOutput(path));
  platform::Refusal refusal = platform::Refusal::kPermission;
  if (plan.replace) {
    out.file = platform::CreateTempBeside(path, out.temp, refusal);
  }
  if (out.file == platform::kNoFile && refusal == platform::Refusal::kPermission && plan.in_place) {
    out.file = platform::OpenInPlace(path);
  }
  if (out.file == platform::kNoFile) Hold(out, kFileError, Quoted("Unable to create file", path));
}

void WriteOutput(OutputFile& out, const std::uint8_t* data, std::int64_t size) {
  if (out.Failed()) return;
  while (size > 0) {
    const std::int64_t n = platform::WriteSome(out.file, data, size);
    if (n <= 0) {
      Hold(out, kFileError, "Stream write error");
      // The disk space of what was written goes back at once; a file
      // written in place keeps what reached it.
      Close(out);
      platform::DeleteTemp(out.temp);
      return;
    }
    data += n;
    size -= n;
  }
}

void FinishOutput(OutputFile& out) {
  const bool replacing = out.temp.stands;
  if (!out.Failed() && replacing) {
    platform::GiveFinalAccess(out.temp, out.file, out.path);
    if (platform::TargetTakenBesideTemp(out.temp, out.path) && !platform::SyncFile(out.file)) {
      Hold(out, kFileError, "Stream write error");
    }
    // Made so that a killed run leaves nothing of it, the file is told to
    // stay only now, while still open: closed first, it would be lost.
    if (!out.Failed() && !platform::KeepTempFile(out.temp, out.file)) {
      Hold(out, kFileError, Quoted("Unable to create file", out.path));
    }
  }
  Close(out);
  if (out.Failed()) std::rethrow_exception(out.failure);
  if (replacing && !platform::RenameTempOver(out.temp, out.path)) {
    RaiseFailure(kFileError, Quoted("Unable to create file", out.path));
  }
}
