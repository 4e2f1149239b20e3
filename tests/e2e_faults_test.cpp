// Runs interrupted, limited or failing part of the way: the shell sees what
// happened, the old output stays as it was, nothing half-written stands at
// the target path, and no temporary file remains.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <regex>
#include <thread>
#include <unistd.h>

#include "e2e_support.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

// Waits until holds() does, for 30 s at most; false if it never does.
template <typename Fn>
bool WaitFor(Fn holds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!holds()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// True once process pid has a temporary file of the tool open in folder,
// holding at least bytes bytes. Made without a name, it shows only among
// the process's descriptors, as "#" and its inode; else as .talvex-*.
bool TempFileIn(int pid, const std::string& folder, std::uintmax_t bytes = 0) {
  std::error_code failed;
  const std::string where = std::filesystem::canonical(folder, failed).string() + "/";
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", failed)) {
    const std::string name = std::filesystem::read_symlink(fd.path(), failed).string();
    if (name.rfind(where + "#", 0) != 0 && name.rfind(where + ".talvex-", 0) != 0) continue;
    const std::uintmax_t size = std::filesystem::file_size(fd.path(), failed);
    if (!failed && size >= bytes) return true;
  }
  return false;
}

// Opens a FIFO for writing once its reader has opened it; -1 after 30 s.
int OpenWhenRead(const std::string& path) {
  int fd = -1;
  WaitFor([&] { return (fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK)) >= 0; });
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool WriteAll(int fd, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (n <= 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return true;
}

struct E2EFaults : E2E {
  void SetUp() override {
    if (TestingWindowsBuild()) GTEST_SKIP() << "signals, limits and mounts are tested natively";
    E2E::SetUp();
  }
};

}  // namespace

TEST_F(E2EFaults, AnInterruptedRunLeavesTheOldOutputAndNoTemporaryFile) {
  // The test ignores the signals, as under nohup or in a background job of
  // a shell; the tool it starts must not.
  struct IgnoredHere {
    void (*hup)(int) = ::signal(SIGHUP, SIG_IGN);
    void (*interrupt)(int) = ::signal(SIGINT, SIG_IGN);
    ~IgnoredHere() {
      ::signal(SIGHUP, hup);
      ::signal(SIGINT, interrupt);
    }
  } ignored_here;
  // A 576 MiB text (32-bit mode): long enough to be caught while written.
  const std::string source = RandomBytes(48 << 20, 11);
  WriteFile(dir / "big.dat", source);
  WriteFile(dir / "key64", RandomBytes(65536, 12));
  ExpectRun({"-e", "key64", "big.dat", "big.tvx"}, KeyLine(65536) + Bar(64, "Encryption"));
  struct Case {
    int signal;
    std::vector<std::string> args;
    std::string output;
  } cases[] = {
      {SIGINT, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx"},
      {SIGTERM, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx"},
      {SIGHUP, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx"},
      {SIGQUIT, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx"},
      {SIGUSR1, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx"},
      {SIGALRM, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx"},
      {SIGXCPU, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx"},
      // Nothing can run after it: the file had no name to leave.
      {SIGKILL, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx"},
      {SIGINT, {"-d", "key64", "dat#big.tvx", "back"}, "back.dat"},
  };
  for (const Case& c : cases) {
    WriteFile(dir / c.output, "old");
    ToolOptions options;
    options.force_colour = true;
    bool caught = false;
    options.while_running = [&](int pid) {
      caught = WaitFor([&] { return TempFileIn(pid, dir.path, 1); });
      ::kill(pid, c.signal);
    };
    const ToolResult result = Run(c.args, options);
    EXPECT_TRUE(caught) << c.signal;
    EXPECT_EQ(result.signal, c.signal) << result.err;
    // What the run had shown, then the terminal's own colours back.
    EXPECT_EQ(result.out.rfind(KeyLine(65536) + "\n" + kScale + "\n", 0), 0u) << result.out;
    if (c.signal != SIGKILL) {
      EXPECT_EQ(result.out.substr(result.out.size() - 4), "\x1b[0m") << c.signal;
    }
    EXPECT_EQ(result.out.find("successful"), std::string::npos);
    EXPECT_TRUE(SameBytes(ReadFile(dir / c.output), "old")) << c.signal;
    std::vector<std::string> expected = {"big.dat", "dat#big.tvx", "key64", c.output};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NewFiles(), expected) << c.signal;
    std::filesystem::remove(dir / c.output);
  }
  EXPECT_TRUE(SameBytes(ReadFile(dir / "big.dat"), source));
}

TEST_F(E2EFaults, AFileSizeLimitEndsAsAFailedWrite) {
  // The signal the limit sends by default would end the run half-way.
  ExpectRun({"-e", "key", "in.dat", "x.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
  struct Case {
    std::vector<std::string> args;
    std::string output, bar;
  } cases[] = {
      {{"-e", "key", "in.dat", "out.tvx"}, "dat#out.tvx", Bar(64, "Encryption")},
      {{"-d", "key", "dat#x.tvx", "back"}, "back.dat", Bar(63, "Decryption")},
  };
  for (const Case& c : cases) {
    WriteFile(dir / c.output, "old");
    ToolOptions limited;
    limited.file_size_limit = 500;
    limited.ignore_sigxfsz = false;
    const ToolResult result = Run(c.args, limited);
    EXPECT_EQ(result.status, 217);
    EXPECT_EQ(result.out, KeyLine(4096) + c.bar);
    EXPECT_TRUE(IsFailureReport(result.err, "FileError: Stream write error")) << result.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / c.output), "old"));
    std::vector<std::string> expected = {"dat#x.tvx", c.output};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NewFiles(), expected);
    std::filesystem::remove(dir / c.output);
  }
}

TEST_F(E2EFaults, AFullDiskEndsAsAFailedWrite) {
  WriteFile(dir / "big.dat", RandomBytes(100000, 14));  // an 800 KB text
  // Out of space while written, or out of inodes for the new file: either
  // way the old output stays whole, and it is never written in place.
  // Where no file can be made and none stands, or on a read-only file
  // system, the run is refused before any work.
  struct Case {
    const char* options;
    std::string report;  // after the success line; none for a refusal
    bool old = true;     // an old output stands
    bool read_only = false;
  } cases[] = {
      {"size=256k", "FileError: Stream write error"},
      {"size=1m,nr_inodes=2", "FileError: Unable to create file \"small/dat#out.tvx\""},
      {"size=1m,nr_inodes=1", "", false},
      {"size=1m", "", true, true},
  };
  for (const Case& c : cases) {
    const std::string small = dir / "small";
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, c.options) != 0) {
      GTEST_SKIP() << "a small tmpfs could not be mounted (needs root): " << std::strerror(errno);
    }
    struct Unmount {
      std::string path;
      ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    if (c.old) WriteFile(small + "/dat#out.tvx", "old");
    if (c.read_only) {
      ASSERT_EQ(::mount(nullptr, small.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    }
    const ToolResult result = Run({"-e", "key", "big.dat", "small/out.tvx"});
    if (c.report.empty()) {
      EXPECT_EQ(result.status, 0) << c.options;
      EXPECT_EQ(result.out, KeyLine(4096) + Error("Cannot write to OUTPUTFILE: small/out.tvx")) << c.options;
    } else {
      EXPECT_EQ(result.status, 217) << c.options;
      EXPECT_EQ(result.out, KeyLine(4096) + Bar(64, "Encryption")) << c.options;
      EXPECT_TRUE(IsFailureReport(result.err, c.report)) << result.err;
    }
    if (c.old) {
      EXPECT_TRUE(SameBytes(ReadFile(small + "/dat#out.tvx"), "old")) << c.options;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(small), {}), c.old ? 1 : 0) << c.options;
  }
}

TEST_F(E2EFaults, AnOutputFolderRemovedDuringTheRun) {
  // The input is a FIFO: the run waits for its bytes after the probe and
  // after its temporary file is made, and the folder goes meanwhile.
  std::filesystem::create_directory(dir / "sub");
  ASSERT_EQ(::mkfifo((dir / "pipe.dat").c_str(), 0600), 0);
  const std::string source = RandomBytes(1000, 15);
  bool removed = false;
  ToolOptions options;
  options.while_running = [&](int pid) {
    const int fd = OpenWhenRead(dir / "pipe.dat");
    removed = WaitFor([&] { return TempFileIn(pid, dir / "sub"); }) &&
              std::filesystem::remove_all(dir / "sub") > 0;
    WriteAll(fd, source);
    ::close(fd);
  };
  const ToolResult result = Run({"-e", "key", "pipe.dat", "sub/o.tvx"}, options);
  EXPECT_TRUE(removed);
  EXPECT_EQ(result.status, 217);
  EXPECT_EQ(result.out, KeyLine(4096) + Bar(64, "Encryption"));
  EXPECT_TRUE(IsFailureReport(result.err, "FileError: Unable to create file \"sub/dat#o.tvx\""))
      << result.err;
  EXPECT_EQ(NewFiles(), std::vector<std::string>{"pipe.dat"});
}

TEST_F(E2EFaults, AnInputThatShrinksWhileReadIsAFailure) {
  WriteFile(dir / "big.dat", RandomBytes(32 << 20, 16));
  bool shrunk = false;
  ToolOptions options;
  options.while_running = [&](int pid) {
    // Held still while its input is cut, so the cut lands mid-read.
    if (WaitFor([&] { return TempFileIn(pid, dir.path); }) && ::kill(pid, SIGSTOP) == 0) {
      shrunk = ::truncate((dir / "big.dat").c_str(), 1000) == 0;
      ::kill(pid, SIGCONT);
    }
  };
  const ToolResult result = Run({"-e", "key", "big.dat", "out.tvx"}, options);
  EXPECT_TRUE(shrunk);
  EXPECT_EQ(result.status, 217);
  EXPECT_EQ(result.out.rfind(KeyLine(4096) + "\n" + kScale + "\n", 0), 0u) << result.out;
  EXPECT_EQ(result.out.find("successful"), std::string::npos);
  EXPECT_TRUE(IsFailureReport(result.err, "FileError: Unable to read file \"big.dat\"")) << result.err;
  EXPECT_EQ(NewFiles(), std::vector<std::string>{"big.dat"});
}

TEST_F(E2EFaults, AKeyThatChangesDuringTheRun) {
  // The key is read where it lies, at each lookup: one cut short faults
  // mid-run, one rewritten or deleted is found out at the end, and neither
  // text is kept. A key whose bytes stay, however it is renamed or its
  // permissions changed, still belongs to the text.
  WriteFile(dir / "key64", RandomBytes(65536, 12));
  const std::string source = RandomBytes(16 << 20, 17);
  WriteFile(dir / "big.dat", source);
  ExpectRun({"-e", "key64", "big.dat", "big.tvx"}, KeyLine(65536) + Bar(64, "Encryption"));
  const std::string key_path = dir / "key64";
  auto cut = [&] { return ::truncate(key_path.c_str(), 100) == 0; };
  auto rewrite = [&] {
    const int fd = ::open(key_path.c_str(), O_WRONLY);
    const bool written = fd >= 0 && WriteAll(fd, RandomBytes(65536, 18));
    return ::close(fd) == 0 && written;
  };
  auto remove = [&] { return ::unlink(key_path.c_str()) == 0; };
  auto restrict = [&] { return ::chmod(key_path.c_str(), 0400) == 0; };
  auto move = [&] { return ::rename(key_path.c_str(), (dir / "moved").c_str()) == 0; };
  auto touch = [&] { return ::utimensat(AT_FDCWD, key_path.c_str(), nullptr, 0) == 0; };
  // A key with no name from the start, held by a descriptor (/dev/fd/N).
  enum Held { kNamed, kDeleted, kMemfd };
  int held_fd = -1;
  auto touch_held = [&] { return ::futimens(held_fd, nullptr) == 0; };
  auto nothing = [] { return true; };
  struct Case {
    std::function<bool()> change;
    std::vector<std::string> args;
    std::string output, finished_bar;  // the bar of a run that ends, or none
    int status;
    Held held = kNamed;
  } cases[] = {
      {cut, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx", "", 217},
      {rewrite, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx", Bar(64, "Encryption"), 217},
      {remove, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx", Bar(64, "Encryption"), 217},
      {restrict, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx", Bar(64, "Encryption"), 0},
      {cut, {"-d", "key64", "dat#big.tvx", "back"}, "back.dat", "", 217},
      {rewrite, {"-d", "key64", "dat#big.tvx", "back"}, "back.dat", Bar(63, "Decryption"), 217},
      {move, {"-d", "key64", "dat#big.tvx", "back"}, "back.dat", Bar(63, "Decryption"), 0},
      // Its bytes stay, yet its time says they may not have.
      {touch, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx", Bar(64, "Encryption"), 217},
      {nothing, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx", Bar(64, "Encryption"), 0, kDeleted},
      {nothing, {"-d", "key64", "dat#big.tvx", "back"}, "back.dat", Bar(63, "Decryption"), 0, kMemfd},
      {touch_held, {"-e", "key64", "big.dat", "out.tvx"}, "dat#out.tvx", Bar(64, "Encryption"), 217, kDeleted},
      {touch_held, {"-d", "key64", "dat#big.tvx", "back"}, "back.dat", Bar(63, "Decryption"), 217, kMemfd},
  };
  for (Case c : cases) {
    WriteFile(key_path, RandomBytes(65536, 12));
    WriteFile(dir / c.output, "old");
    if (c.held == kDeleted) {
      held_fd = ::open(key_path.c_str(), O_RDONLY);  // inherited by the tool
      ::unlink(key_path.c_str());
    } else if (c.held == kMemfd) {
      held_fd = ::memfd_create("key", 0);
      WriteAll(held_fd, RandomBytes(65536, 12));
    }
    if (c.held != kNamed) c.args[1] = "/dev/fd/" + std::to_string(held_fd);
    bool changed = false;
    ToolOptions options;
    options.while_running = [&](int pid) {
      if (WaitFor([&] { return TempFileIn(pid, dir.path); }) && ::kill(pid, SIGSTOP) == 0) {
        changed = c.change();
        ::kill(pid, SIGCONT);
      }
    };
    const ToolResult result = Run(c.args, options);
    EXPECT_TRUE(changed);
    EXPECT_EQ(result.status, c.status) << c.args[0] << " " << result.err;
    if (c.finished_bar.empty()) {
      EXPECT_EQ(result.out.rfind(KeyLine(65536) + "\n" + kScale + "\n", 0), 0u) << result.out;
      EXPECT_EQ(result.out.find("successful"), std::string::npos);
    } else {
      EXPECT_EQ(result.out, KeyLine(65536) + c.finished_bar);
    }
    if (held_fd >= 0) ::close(held_fd);
    held_fd = -1;
    std::error_code not_moved;
    std::filesystem::rename(dir / "moved", key_path, not_moved);
    ::chmod(key_path.c_str(), 0644);  // after restrict: as anyone but root, 0400 keeps out the rewrite
    WriteFile(key_path, RandomBytes(65536, 12));
    if (c.status == 217) {
      EXPECT_TRUE(IsFailureReport(result.err, "FileError: Unable to read file \"" + c.args[1] + "\""))
          << result.err;
      EXPECT_TRUE(SameBytes(ReadFile(dir / c.output), "old"));
    } else if (c.args[0] == "-e") {
      EXPECT_EQ(Run({"-d", "key64", c.output, "again"}).status, 0);
      EXPECT_TRUE(SameBytes(ReadFile(dir / "again.dat"), source));
      std::filesystem::remove(dir / "again.dat");
    } else {
      EXPECT_TRUE(SameBytes(ReadFile(dir / c.output), source));
    }
    std::vector<std::string> expected = {"big.dat", "dat#big.tvx", "key64", c.output};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NewFiles(), expected);
    std::filesystem::remove(dir / c.output);
  }
}

TEST_F(E2EFaults, EndlessInputsEnd) {
  ExpectRun({"-e", "key", "in.dat", "x.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
  ASSERT_EQ(::symlink("/dev/zero", (dir / "z.tvx").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/stdin", (dir / "s.tvx").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "h.tvx").c_str(), 0600), 0);
  // What feeds s.tvx, or h.tvx from a writer that keeps it open: the head
  // of dat#x.tvx (mode code and signature, 51 characters) and valid entries
  // that never end; the whole text and zeros; the text up to its 501st
  // entry, a bad field and zeros; the whole text and a pause. The writer of
  // h.tvx holds none of the test's pipes and gives up after 30 s: a tool
  // that never opens h.tvx (one that could not start) must not hold the test.
  const std::string entries = "(head -c 51 dat#x.tvx; yes 0001,00, | tr -d '\\n') | \"$@\"";
  const std::string zeros = "(cat dat#x.tvx; cat /dev/zero) | \"$@\"";
  const std::string bad = "(head -c 4051 dat#x.tvx; printf ZZZZ; cat /dev/zero) | \"$@\"";
  const std::string pause =
      "timeout 30 sh -c '(cat dat#x.tvx; sleep 60) >h.tvx' >/dev/null 2>&1 & exec \"$@\"";
  const std::string written = Bar(63, "Decryption");
  const std::string stars = "\n" + kScale + "\n\\**";  // as many as were read for
  struct Case {
    std::vector<std::string> args;
    std::string feed;
    std::int64_t limit;
    int status;
    std::string out;  // a pattern where stars stands in it
    std::string report, output;
  } cases[] = {
      // A failed write stops the reading.
      {{"-e", "key", "/dev/zero", "z.tvx"}, "", 1 << 20, 217, Bar(64, "Encryption"), "FileError: Stream write error", ""},
      {{"-d", "key", "s.tvx", "o"}, entries, 1 << 20, 217, written, "FileError: Stream write error", ""},
      // The head decides.
      {{"-t", "key", "z.tvx"}, "", -1, 0, Error("File: z.tvx is NOT a valid 'Talvex Encryption' file!"), "", ""},
      {{"-d", "key", "z.tvx", "o"}, "", -1, 0, Error("This is NOT a valid KEYFILE and/or TALVEX File!"), "", ""},
      {{"-t", "key", "s.tvx"}, entries, -1, 0, Line("File: s.tvx is a valid 'Talvex Encryption' file!") + "\n\n", "", ""},
      {{"-d", "key", "s.tvx", "no/o"}, entries, -1, 0, Error("Cannot write to OUTPUTFILE: no/o"), "", ""},
      // The end marker or a bad field decides: nothing after it is read.
      {{"-d", "key", "s.tvx", "o"}, zeros, -1, 0, stars + "\n\nTalvex Decryption was successful!\n", "", "o.s.t"},
      {{"-d", "key", "s.tvx", "o"}, bad, -1, 217, stars, "ConversionError: \"$ZZZZ\" is an invalid integer", ""},
      {{"-d", "key", "h.tvx", "o"}, pause, -1, 0, stars + "\n\nTalvex Decryption was successful!\n", "", "o.h.t"},
  };
  for (const Case& c : cases) {
    ToolOptions options;
    options.file_size_limit = c.limit;
    // Ended by force if it runs on; 124 or 137 then.
    options.prefix = {"/usr/bin/timeout", "-k", "5", "20"};
    if (!c.feed.empty()) options.prefix.insert(options.prefix.end(), {"/bin/sh", "-c", c.feed, "sh"});
    const ToolResult result = Run(c.args, options);
    const std::string what = c.args[0] + " " + c.args[2] + " " + c.feed;
    EXPECT_EQ(result.status, c.status) << what;
    if (c.out.rfind(stars, 0) == 0) {
      EXPECT_TRUE(std::regex_match(result.out, std::regex(KeyLine(4096) + c.out))) << what << result.out;
    } else {
      EXPECT_EQ(result.out, KeyLine(4096) + c.out) << what;
    }
    if (c.status == 217) {
      EXPECT_TRUE(IsFailureReport(result.err, c.report)) << result.err;
    }
    if (!c.output.empty()) {
      EXPECT_TRUE(SameBytes(ReadFile(dir / c.output), ReadFile(dir / "in.dat"))) << what;
      std::filesystem::remove(dir / c.output);
    }
    EXPECT_EQ(NewFiles(), (std::vector<std::string>{"dat#x.tvx", "h.tvx", "s.tvx", "z.tvx"})) << what;
  }
}

TEST_F(E2EFaults, AnInterruptedProbeLeavesNothing) {
  if (!PathExists("/usr/bin/strace")) {
    if (std::getenv("CI") != nullptr) GTEST_FAIL() << "strace is needed";
    GTEST_SKIP() << "strace is not installed";
  }
  // SIGINT arrives as the probe closes the file it made at the output path.
  ToolOptions traced;
  traced.native = true;
  traced.prefix = {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-P", dir / "dat#o.tvx",
                   "-e", "trace=close", "-e", "inject=close:signal=SIGINT"};
  traced.environment = {"ASAN_OPTIONS=detect_leaks=0"};
  const ToolResult result = Run({"-e", "key", "in.dat", "o.tvx"}, traced);
  EXPECT_TRUE(result.signal == SIGINT || result.status == 128 + SIGINT) << result.status;
  EXPECT_EQ(result.out, KeyLine(4096));
  EXPECT_EQ(NewFiles(), std::vector<std::string>{});
}

// What the signal and console control handlers do before the process ends.
TEST(Interrupts, TheCleanUpRemovesTheTemporaryFileOnly) {
  TempDir dir;
  WriteFile(dir / "out", "old");
  auto temp_files = [&] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
      if (entry.path().filename() != "out") names.push_back(entry.path().filename());
    }
    return names;
  };
  platform::Refusal refusal;
  {
    // Without a name while written, where the file system allows; kept, it
    // has one, and is the handler's to remove.
    platform::TempFile temp;
    const platform::FileHandle file = platform::CreateTempBeside(dir / "out", temp, refusal);
    ASSERT_NE(file, platform::kNoFile);
    EXPECT_EQ(temp_files().size(), temp.name.empty() ? 0u : 1u);
    ASSERT_TRUE(platform::KeepTempFile(temp, file));
    ASSERT_EQ(temp_files().size(), 1u);
    platform::CleanUpAfterInterrupt();
    EXPECT_EQ(temp_files(), std::vector<std::string>{});
    EXPECT_TRUE(SameBytes(ReadFile(dir / "out"), "old"));
    platform::CloseFile(file);
  }
  // The probe's file at the output path itself, likewise; once deleted it
  // is no longer the handler's to remove.
  {
    platform::TempFile temp;
    const platform::FileHandle probe = platform::CreateNewFile(dir / "probe", temp);
    ASSERT_NE(probe, platform::kNoFile);
    platform::CleanUpAfterInterrupt();
    EXPECT_FALSE(PathExists(dir / "probe"));
    platform::CloseFile(probe);
  }
  {
    platform::TempFile temp;
    platform::CloseFile(platform::CreateNewFile(dir / "probe", temp));
    EXPECT_TRUE(platform::DeleteTemp(temp));
  }
  WriteFile(dir / "probe", "someone else's");
  platform::CleanUpAfterInterrupt();
  EXPECT_TRUE(SameBytes(ReadFile(dir / "probe"), "someone else's"));
  std::filesystem::remove(dir / "probe");
  // Once renamed, the file is no longer the handler's to remove, nor its
  // record's.
  std::string kept_name;
  {
    platform::TempFile temp;
    const platform::FileHandle kept = platform::CreateTempBeside(dir / "out", temp, refusal);
    ASSERT_TRUE(platform::KeepTempFile(temp, kept));
    kept_name = temp_files().at(0);
    platform::CloseFile(kept);
    ASSERT_TRUE(platform::RenameTempOver(temp, dir / "out"));
    WriteFile(dir / kept_name, "someone else's");
    platform::CleanUpAfterInterrupt();
  }
  EXPECT_TRUE(SameBytes(ReadFile(dir / kept_name), "someone else's"));
  // A record that goes with its file standing takes it along; a second
  // file while one stands would leave the first unknown to the handler.
  {
    platform::TempFile temp;
    platform::CloseFile(platform::CreateTempBeside(dir / "out", temp, refusal));
#ifndef NDEBUG
    platform::TempFile second;
    EXPECT_DEATH(platform::CreateTempBeside(dir / "out", second, refusal), "one temporary file at a time");
#endif
  }
  EXPECT_EQ(temp_files(), std::vector<std::string>{kept_name});
}
