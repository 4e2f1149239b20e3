// Files as the tool moves them: an unmapped key read whole, inputs read in
// chunks from their start, outputs written to a temporary file beside the
// target and renamed over it once complete. Failures end the process
// through the failure report.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "core/process_values.h"
#include "platform/files.h"

// An input, read in chunks from its start. Closed when it goes.
struct InputFile {
  std::string path;
  platform::FileHandle file = platform::kNoFile;
  // The size on disk when it was opened, and as far as it is read; or
  // platform::kNotAFile for a pipe, a device or a file that says it is
  // empty, which is read to its end.
  std::int64_t size = 0;
  std::int64_t done = 0;  // bytes read so far

  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();
  bool SizeKnown() const { return size >= 0; }
};

// The message of a file that could not be read whole: "Unable to read
// file" and the path in double quotes.
std::string UnableToReadMessage(const std::string& path);

// Opens an existing file for reading; "Unable to open file" when that
// fails.
void OpenInput(InputFile& in, const std::string& path);

// Reads the whole content of a just opened input (a key that cannot be
// mapped) into content. When its size lies outside min to max bytes the
// result is false and content is left alone: a far too large file is
// refused from its size on disk, without the wait for reading it. A pipe or
// device is read until it ends or holds more than max bytes.
bool ReadWholeWithin(InputFile& in, std::int64_t min, std::int64_t max, ByteString& content);

// Reads up to want bytes, fewer only where the input ends; returns the
// count read. A read error, or a file that ends before the size it had when
// opened, raises "Unable to read file": never short or made-up content.
std::int64_t ReadInput(InputFile& in, std::uint8_t* buffer, std::int64_t want);

// Reads what one request gives, up to want bytes: fewer when no more has
// come yet from a pipe; 0 only at the end. Fails as ReadInput does.
std::int64_t ReadSomeInput(InputFile& in, std::uint8_t* buffer, std::int64_t want);

// Where an output's bytes go, the one rule that the probe asks before any
// work and the run then follows: into a new file renamed over whatever may
// be replaced there; else, where the folder refuses that for lack of
// permission, in place into a file that is the user's alone
// (OutputSite::may_write_in_place); never into a folder that keeps what is
// put in it. Any other failure to make the new file fails the run.
struct OutputPlan {
  bool replace = false;   // try a new file beside the path first
  bool in_place = false;  // where that is refused for lack of permission
};
OutputPlan PlanOutput(const platform::OutputSite& site);

// An output under construction, written the way PlanOutput allows. Until
// a new file is renamed over path, whatever stands there stays as it was,
// and the new file is removed again when the output goes uncompleted. A
// file written in place holds what was written, whatever happens.
struct OutputFile {
  std::string path;
  // The new file while it stands, to be renamed over path at the end; none
  // for a file written in place. It goes with the output if still there.
  platform::TempFile temp;
  platform::FileHandle file = platform::kNoFile;
  // The first failure to create or write the file. It is held rather than
  // raised, so that it reaches the user where a write after the work would
  // have: after the success line.
  std::exception_ptr failure;

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
  bool Failed() const { return failure != nullptr; }
};

// Starts an output at path. One that cannot be started the way PlanOutput
// allows is the failure "Unable to create file" naming path.
void CreateOutput(OutputFile& out, const std::string& path);

// Appends size bytes. A failed write is the failure "Stream write error";
// after a failure nothing more is written.
void WriteOutput(OutputFile& out, const std::uint8_t* data, std::int64_t size);

// Completes the output: raises the failure held, if any; otherwise gives a
// new file its access (platform::GiveFinalAccess) and, when something
// standing at path is replaced, brings the new data to the disk first (so a
// crash leaves the old file or the new one, never an empty one), then has
// it kept (platform::KeepTempFile), closes it and renames it over path (a
// link there is replaced, not followed). A file written in place is only
// closed.
void FinishOutput(OutputFile& out);
