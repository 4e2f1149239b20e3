// Runs the built talvex binary as a user would and captures what it shows.
//
// The binary under test is the native build unless TALVEX_UNDER_TEST names
// another one; TALVEX_RUNNER names a program to start it with (wine for the
// Windows build), and TALVEX_LINE_END=crlf says that its line ends are
// CR LF. A cross build (aarch64 under qemu-user) starts the binary it built
// through the emulator CMake names (CMAKE_CROSSCOMPILING_EMULATOR), never
// through a binfmt handler that a machine may or may not have.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct ToolResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status; -1 when the process did not exit normally
  int signal = 0;   // the signal that ended it, if one did
};

struct ToolOptions {
  bool force_colour = false;              // FORCE_COLOR=1
  std::vector<std::string> environment;   // more NAME=value pairs
  bool as_nobody = false;                 // as nobody, when the test runs as root
  std::int64_t file_size_limit = -1;      // RLIMIT_FSIZE in bytes
  bool ignore_sigxfsz = true;             // with the limit, SIGXFSZ ignored
  std::int64_t memory_limit = -1;         // RLIMIT_AS in bytes
  std::int64_t data_limit = -1;           // RLIMIT_DATA: private memory, not mapped files
  bool native = false;                    // the native build, whatever is under test
  const std::string* input = nullptr;     // fed to stdin through a pipe (else /dev/null)
  std::vector<std::string> prefix;        // a program that starts the tool (strace ...)
  std::vector<std::string> starter;       // one that the runner starts, and it the tool
  // Called on a thread of its own with the tool's process id while it
  // runs (to signal or stop it, or change its files); joined at its end.
  std::function<void(int pid)> while_running;
};

// The words that start the binary under test, before its arguments: the
// runner or the emulator, if any, then the binary. With native, the build's
// own binary, whatever is under test.
std::vector<std::string> ToolCommandWords(bool native = false);

// Runs the tool with args in directory dir, with every signal at its
// default action and none blocked, whatever the test inherited. Its output
// is read until it exits and for a few seconds after: a process it left
// behind that holds the pipes (a background writer of a test's feed) fails
// the test rather than holding it.
ToolResult RunTool(const std::string& dir, const std::vector<std::string>& args,
                   const ToolOptions& options = {});

// For a child between fork and exec: every signal back to its default
// action and none blocked, as `env --default-signal` starts a program. A
// parent started under nohup, or by a shell that ignores SIGINT or SIGPIPE,
// must not change what the tool does when it is signalled or its pipe
// closes. Async-signal-safe.
void DefaultSignalsForChild();

// Text with "\n" turned into the line end of the binary under test.
std::string Lines(const std::string& text);

// True when the binary under test is the Windows build.
bool TestingWindowsBuild();

// True when the binary under test runs under the emulator of a cross build.
// qemu-user keeps the limits on address space and data (RLIMIT_AS,
// RLIMIT_DATA) from reaching the host, where they would bound the
// emulator's memory rather than the tool's: memory limits test nothing
// there.
bool TestingUnderEmulator();

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Feeds content into a FIFO at path from a thread of its own, as the writer
// of a pipe does: it waits for a reader, and the reader sees the end once
// all is written. When it goes it stops waiting for a reader that never
// came (a tool that could not start) and is joined.
struct FifoFeeder {
  explicit FifoFeeder(const std::string& path, std::string content);
  ~FifoFeeder();
  FifoFeeder(const FifoFeeder&) = delete;
  FifoFeeder& operator=(const FifoFeeder&) = delete;
  std::atomic<bool> done{false};
  std::thread thread;
};

// Whole-file helpers for the tests themselves.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);
// Whether actual holds the same bytes as expected. A failure says how in a
// few lines, never the whole content: both whole when short, else their
// sizes, hashes and the bytes at the first differing offset.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);
// count bytes from a fixed pseudo-random sequence, the same for a given seed.
std::string RandomBytes(std::size_t count, std::uint32_t seed);
