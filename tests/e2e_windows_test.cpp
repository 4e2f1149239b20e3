// The Windows build (run under wine) against the Linux one, and what the
// Windows backends do on their own: colours through the console API, share
// modes that keep writers out, outputs that cannot be replaced, Ctrl-C,
// paths beyond ASCII. E2EWindowsOnly cases need the Windows build; the
// others hold for both builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "e2e_support.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Every file under dir, by its path there, with its content: what a run
// left behind.
std::map<std::string, std::string> FolderContents(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_directory()) {
      files[std::filesystem::relative(entry.path(), dir).string()] = ReadFile(entry.path());
    }
  }
  return files;
}

// The names in dir, sorted; entries that go while it looks are left out.
std::vector<std::string> NamesIn(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (std::filesystem::directory_iterator it(dir, ignored), end; it != end;
       it.increment(ignored)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ToolResult RunBuild(bool windows, const std::string& dir, const std::vector<std::string>& args) {
  ToolOptions options;
  options.native = !windows;
  return RunTool(dir, args, options);
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  out += '\'';
  return out;
}

// Runs a shell command; what it wrote to stdout, and its exit status.
ToolResult RunShell(const std::string& command) {
  ToolResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.out.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The command line that starts program (the build under test when empty),
// quoted for a shell.
std::string ToolCommand(const std::vector<std::string>& args, const std::string& program = "") {
  std::vector<std::string> words = ToolCommandWords();
  if (!program.empty()) words.back() = program;
  words.insert(words.end(), args.begin(), args.end());
  std::string command;
  for (const auto& word : words) {
    if (!command.empty()) command += ' ';
    command += ShellQuoted(word);
  }
  return command;
}

// Runs the tool (or program) on a pseudo-terminal (wine then gives it a
// real console, which it renders onto the terminal); returns what the
// terminal received.
ToolResult RunOnTerminal(const std::string& dir, const std::vector<std::string>& args,
                         const std::string& environment, const std::string& program = "") {
  const std::string inner =
      "exec env --default-signal -u NO_COLOR -u FORCE_COLOR -u CLICOLOR_FORCE TERM=xterm " +
      environment + " " + ToolCommand(args, program);
  return RunShell("cd " + ShellQuoted(dir) + " && script -qec " + ShellQuoted(inner) +
                  " /dev/null </dev/null 2>&1");
}

// The foreground SGR code (30-37, 90-97; 39 for the terminal's own colour)
// in force where text first appears on the terminal, -1 when it does not;
// wine may render bright colours as bold (1) with 30-37.
int ForegroundOf(const std::string& stream, const std::string& text) {
  const std::size_t at = stream.find(text);
  if (at == std::string::npos) return -1;
  int fg = 39;
  bool bold = false;
  const std::regex sgr("\x1b\\[([0-9;]*)m");
  for (std::sregex_iterator it(stream.begin(), stream.begin() + at, sgr), end; it != end; ++it) {
    std::stringstream codes((*it)[1].str());
    std::string code;
    while (std::getline(codes, code, ';')) {
      const int n = code.empty() ? 0 : std::stoi(code);
      if (n == 0) fg = 39, bold = false;
      if (n == 1) bold = true;
      if (n == 22) bold = false;
      if ((n >= 30 && n <= 37) || (n >= 90 && n <= 97) || n == 39) fg = n;
    }
  }
  return bold && fg >= 30 && fg <= 37 ? fg + 60 : fg;
}

constexpr int kUserColour = 0;  // expected: as the key-size line, the user's colours

TEST(E2EWindowsOnly, CipherTextCrossesBetweenBuilds) {
  if (!TestingWindowsBuild()) GTEST_SKIP() << "needs the Windows build next to the native one";
  struct Case {
    std::size_t key_size;  // 8, 16 and 32 bit modes
    std::size_t plain_size;
  };
  const Case cases[] = {{200, 1000}, {3000, 4000}, {70000, 2000}, {500, 0}};
  for (const Case& c : cases) {
    for (const bool windows_encrypts : {true, false}) {
      SCOPED_TRACE(std::to_string(c.key_size) + " byte key, encrypted by " +
                   (windows_encrypts ? "Windows" : "Linux"));
      TempDir dir;
      const std::string plain = RandomBytes(c.plain_size, static_cast<std::uint32_t>(c.key_size));
      WriteFile(dir / "key.bin", RandomBytes(c.key_size, 7));
      WriteFile(dir / "plain.bin", plain);
      const ToolResult encrypted =
          RunBuild(windows_encrypts, dir.path, {"-e", "key.bin", "plain.bin", "c.tvx"});
      ASSERT_EQ(encrypted.status, 0) << encrypted.err;
      const ToolResult decrypted =
          RunBuild(!windows_encrypts, dir.path, {"-d", "key.bin", "bin#c.tvx", "back.x"});
      ASSERT_EQ(decrypted.status, 0) << decrypted.err;
      EXPECT_TRUE(SameBytes(ReadFile(dir / "back.bin"), plain));
    }
  }
}

TEST(E2EWindowsConsole, ColoursReachTheTerminal) {
  if (::system("command -v script >/dev/null 2>&1") != 0) {
    GTEST_FAIL() << "script (util-linux) is needed to give the tool a terminal";
  }
  struct Case {
    std::vector<std::string> args;
    std::string environment;
    std::string text;
    int foreground;  // SGR code, or kUserColour
  };
  const std::vector<std::string> test_missing = {"-t", "key.bin", "missing.tvx"};
  // A name beyond the ANSI code page shows as typed: UTF-8 is that code
  // page on Windows through the manifest (as wine honours it), and the
  // terminal's own on Linux.
  const std::vector<std::string> test_cyrillic = {"-t", "key.bin", "txt#имя.tvx"};
  const Case cases[] = {
      {{"-h"}, "", "Unhackable Encryption for Files", 32},  // green banner
      {{"-h"}, "", "Commands:", 93},
      {test_missing, "", "--> ERROR! <--", 91},  // light red heading
      {test_missing, "", "INPUTFILE is not an encrypted 'Talvex File'!", 93},
      {test_missing, "NO_COLOR=1", "--> ERROR! <--", kUserColour},
      {test_missing, "NO_COLOR=1", "INPUTFILE is not an encrypted 'Talvex File'!", kUserColour},
      {test_cyrillic, "", "File: txt#имя.tvx is NOT a valid 'Talvex Encryption' file!", 93},
  };
  TempDir dir;
  WriteFile(dir / "key.bin", RandomBytes(300, 1));
  WriteFile(dir / "txt#имя.tvx", "not cipher text");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.environment + ": " + c.text);
    const ToolResult run = RunOnTerminal(dir.path, c.args, c.environment);
    ASSERT_EQ(run.status, 0) << run.out;
    const int expected =
        c.foreground == kUserColour ? ForegroundOf(run.out, "KEYFILE SIZE: 300") : c.foreground;
    EXPECT_NE(expected, -1) << run.out;
    EXPECT_EQ(ForegroundOf(run.out, c.text), expected) << run.out;
  }
}

// Starts the helper that holds path (in dir) open for writing, sharing it
// as share says (hold_open_win32.cpp; read and write when empty); returns
// its pid once the file is held, -1 when that failed. Closing *release lets
// it go.
pid_t HoldOpenForWriting(const std::string& dir, const std::string& path, int* release,
                         const std::string& share = "") {
  // Close-on-exec: no other process (the tool, or a wine service it
  // starts) may keep the release end open, or the helper would never go.
  int to_child[2], from_child[2];
  if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    DefaultSignalsForChild();
    ::dup2(to_child[0], STDIN_FILENO);
    ::dup2(from_child[1], STDOUT_FILENO);
    const std::string runner = Env("TALVEX_RUNNER");
    const std::string helper = Env("TALVEX_HOLD_OPEN");
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    if (share.empty()) {
      ::execl(runner.c_str(), runner.c_str(), helper.c_str(), path.c_str(), nullptr);
    } else {
      ::execl(runner.c_str(), runner.c_str(), helper.c_str(), path.c_str(), share.c_str(), nullptr);
    }
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  *release = to_child[1];
  char said[5] = {};
  const bool held = ::read(from_child[0], said, 4) == 4 && std::string(said) == "held";
  ::close(from_child[0]);
  if (!held) {
    ::close(*release);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

TEST(E2EWindowsOnly, FileHeldOpenForWritingCannotBeRead) {
  if (!TestingWindowsBuild()) GTEST_SKIP() << "only Windows keeps other writers out";
  ASSERT_FALSE(Env("TALVEX_HOLD_OPEN").empty()) << "TALVEX_HOLD_OPEN names the helper .exe";
  struct Case {
    std::vector<std::string> args;
    std::string held;
  };
  const Case cases[] = {
      {{"-e", "key.bin", "in.txt", "out.tvx"}, "key.bin"},
      {{"-e", "key.bin", "in.txt", "out.tvx"}, "in.txt"},
      {{"-t", "key.bin", "old.tvx"}, "old.tvx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held);
    TempDir dir;
    WriteFile(dir / "key.bin", RandomBytes(300, 3));
    WriteFile(dir / "in.txt", "some plain text");
    WriteFile(dir / "old.tvx", "16 not really cipher text");
    int release = -1;
    const pid_t holder = HoldOpenForWriting(dir.path, c.held, &release);
    ASSERT_NE(holder, -1) << "the helper could not hold " << c.held;
    const ToolResult run = RunTool(dir.path, c.args);
    ::close(release);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(run.status, 217);
    EXPECT_NE(run.err.find("Unable to open file \"" + c.held + "\""), std::string::npos) << run.err;
    EXPECT_FALSE(PathExists(dir / "txt#out.tvx"));
  }
}

TEST(E2EWindowsOnly, ReadOnlyOutputIsLeftAlone) {
  if (!TestingWindowsBuild()) {
    GTEST_SKIP() << "covered natively as an unprivileged user (root may write anyway)";
  }
  TempDir dir;
  WriteFile(dir / "key.bin", RandomBytes(300, 3));
  WriteFile(dir / "in.txt", "some plain text");
  WriteFile(dir / "txt#ro.tvx", "keep");
  ::chmod((dir / "txt#ro.tvx").c_str(), 0444);  // wine shows this as the read-only attribute
  const ToolResult run = RunTool(dir.path, {"-e", "key.bin", "in.txt", "ro.tvx"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Cannot write to OUTPUTFILE: ro.tvx"), std::string::npos) << run.out;
  EXPECT_TRUE(SameBytes(ReadFile(dir / "txt#ro.tvx"), "keep"));
}

TEST(E2EWindowsOnly, OnlyTheUsersFileAloneIsWrittenInPlaceOrHandsOnItsDacl) {
  if (!TestingWindowsBuild()) GTEST_SKIP() << "links, owners and DACLs as Windows sees them";
  // Wine shows and sets a DACL as a mode (0600 and 0770 grant the owner
  // alone), and cannot tell that an immutable folder takes no new file.
  struct Case {
    bool second_link, locked_folder;
    int status;
  } cases[] = {{false, false, 0}, {true, false, 0}, {false, true, 0}, {true, true, 217}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.second_link) + " second link, locked " +
                 std::to_string(c.locked_folder));
    TempDir dir;
    const std::string old = dir / "f/txt#o.tvx", folder = ShellQuoted(dir / "f");
    std::filesystem::create_directory(dir / "f");
    WriteFile(dir / "key.bin", RandomBytes(300, 3));
    WriteFile(dir / "in.txt", "some plain text");
    WriteFile(old, "old");
    ::chmod(old.c_str(), 0600);
    ASSERT_EQ(c.second_link ? ::link(old.c_str(), (dir / "other").c_str()) : 0, 0);
    ASSERT_EQ(RunTool(dir.path, {"-e", "key.bin", "in.txt", "new.tvx"}).status, 0);
    if (c.locked_folder && ::system(("chattr +i " + folder).c_str()) != 0) {
      GTEST_SKIP() << "chattr +i was refused here";
    }
    const ToolResult run = RunTool(dir.path, {"-e", "key.bin", "in.txt", "f/o.tvx"});
    if (c.locked_folder) (void)::system(("chattr -i " + folder).c_str());
    // Never in place into a file with another name: it fails at the end.
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(ReadFile(old) == "old", c.status != 0);
    // Replaced, an own file keeps others out; one with two names is new.
    struct stat now {}, fresh {};
    ASSERT_EQ(::stat(old.c_str(), &now) | ::stat((dir / "txt#new.tvx").c_str(), &fresh), 0);
    if (!c.locked_folder) {
      EXPECT_EQ(now.st_mode & 07, c.second_link ? fresh.st_mode & 07 : 0);
    }
  }
}

// What this wine's GetFullPathNameW makes of name in dir: a device's name
// comes back as \\.\ and that name.
bool WineTakesForADevice(const std::string& dir, const std::string& name) {
  const ToolResult said =
      RunShell("cd " + ShellQuoted(dir) + " && " + ShellQuoted(Env("TALVEX_RUNNER")) + " " +
               ShellQuoted(Env("TALVEX_HOLD_OPEN")) + " --full-path " + ShellQuoted(name));
  EXPECT_EQ(said.status, 0) << said.out;
  return said.out.rfind("\\\\.\\", 0) == 0;
}

TEST(E2EWindowsOnly, DevicesStreamsHeldOutputsAndUnknownNamesEndBeforeAnyWork) {
  if (!TestingWindowsBuild()) {
    GTEST_SKIP() << "device names, streams, share modes and UTF-16 names are Windows'";
  }
  ASSERT_FALSE(Env("TALVEX_HOLD_OPEN").empty()) << "TALVEX_HOLD_OPEN names the helper .exe";
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string held = "";        // kept open for writing by hold_open.exe
    bool through_helper = false;  // started by hold_open.exe, which reads \uXXXX
    std::string device_key = "";  // which may also fail to open, where wine maps no port to it
    std::string share = "";       // what hold_open.exe lets others do with held
    std::string made = "";        // the file the run writes, where it writes one
  };
  TempDir source;
  WriteFile(source / "key.bin", RandomBytes(300, 3));
  WriteFile(source / "c.dat", "some plain text");
  ASSERT_EQ(RunTool(source.path, {"-e", "key.bin", "c.dat", "c.tvx"}).status, 0);
  const std::string text = ReadFile(source / "dat#c.tvx");
  const std::string refused = "Cannot write to OUTPUTFILE: ";
  const std::string key_line = KeyLine(300);
  const std::string wrong_size = Error("KEYFILE SIZE must be between 100 bytes and 1 GB!");
  // A text this short draws one star per entry.
  const std::string decrypted = key_line + Bar(15, "Decryption");
  std::vector<Case> cases = {
      {{"-d", "key.bin", "dat#c.tvx", "NUL"}, key_line + Error(refused + "NUL")},
      {{"-d", "key.bin", "dat#c.tvx", "CON"}, key_line + Error(refused + "CON")},
      // A serial port is read for what it holds now: nothing, and no wait.
      {{"-t", "AUX", "dat#c.tvx"}, wrong_size, "", false, "AUX"},
      {{"-t", "COM1", "dat#c.tvx"}, wrong_size, "", false, "COM1"},
      // An unpaired surrogate reaches the file system as it is: the
      // a\uFFFD.dat that a lost one would turn it into is not taken. Not
      // being UTF-8, it shows as the bytes that carry it.
      {{"-e", "key.bin", "a\\uD800.dat", "s.tvx"},
       key_line + Error("INPUTFILE 'a\\xED\\xA0\\x80.dat' does NOT exist"), "", true},
      // A colon that is not a drive's names a stream of another file, which
      // is neither made nor written (wine would make a file of that name).
      {{"-e", "key.bin", "r.dat", "ads.tvx:s.tvx"}, key_line + Error(refused + "ads.tvx:s.tvx")},
      {{"-d", "key.bin", "dat#c.tvx", "dat#c.tvx:x"}, key_line + Error(refused + "dat#c.tvx:x")},
      {{"-d", "key.bin", "dat#c.tvx", "r.dat:x:y"}, key_line + Error(refused + "r.dat:x:y")},
      // A drive's colon is none: Z: is the test folder's drive under wine.
      {{"-d", "key.bin", "dat#c.tvx", "Z:back"}, decrypted, "", false, "", "", "back.dat"},
  };
  // Windows 10 takes nul.txt and com1.txt for devices, Windows 11 for files;
  // this wine decides as its GetFullPathNameW does.
  for (const std::string name : {"nul", "com1"}) {
    const std::vector<std::string> args = {"-d", "key.bin", "dat#c.tvx", name + ".txt"};
    if (WineTakesForADevice(source.path, name + ".dat")) {
      cases.push_back({args, key_line + Error(refused + name + ".txt")});
    } else {
      cases.push_back({args, decrypted, "", false, "", "", name + ".dat"});
    }
  }
  // An output held open in any sharing mode: a volume without the POSIX
  // rename (wine's, as GetVolumeInformationByHandleW says) replaces no file
  // that anyone has open, and writing in place needs it to itself.
  for (const std::string share : {"-", "r", "w", "d", "rw", "rd", "wd", "rwd"}) {
    cases.push_back({{"-d", "key.bin", "dat#c.tvx", "r"}, key_line + Error(refused + "r"), "r.dat",
                     false, "", share});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2] + " " + c.args.back() +
                 (c.held.empty() ? "" : ", held sharing '" + c.share + "'"));
    TempDir dir;
    WriteFile(dir / "key.bin", ReadFile(source / "key.bin"));
    WriteFile(dir / "dat#c.tvx", text);
    WriteFile(dir / "r.dat", "old");
    WriteFile(dir / "a\xEF\xBF\xBD.dat", "a decoy");
    auto expected = FolderContents(dir.path);
    if (!c.made.empty()) expected[c.made] = "some plain text";
    int release = -1;
    const pid_t holder =
        c.held.empty() ? 0 : HoldOpenForWriting(dir.path, c.held, &release, c.share);
    ASSERT_NE(holder, -1) << "the helper could not hold " << c.held;
    ToolOptions options;
    options.prefix = {"/usr/bin/timeout", "-k", "5", "60"};
    if (c.through_helper) options.starter = {Env("TALVEX_HOLD_OPEN"), "--start"};
    const ToolResult run = RunTool(dir.path, c.args, options);
    if (holder > 0) {
      ::close(release);
      ::waitpid(holder, nullptr, 0);
    }
    if (!c.device_key.empty() && run.status == 217) {
      EXPECT_EQ(run.out, "");
      EXPECT_TRUE(IsFailureReport(run.err, "FileError: Unable to open file \"" + c.device_key + "\""))
          << run.err;
    } else {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out, Lines(c.out));
      EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(FolderContents(dir.path) == expected) << "the folder is not as expected";
  }
}

// The status that ends a process at Ctrl-C, STATUS_CONTROL_C_EXIT, as wine
// hands it on: its low byte.
constexpr int kCtrlCStatus = 0xC000013A & 0xFF;

TEST(E2EWindowsOnly, CtrlCRemovesTheTemporaryFileAndKeepsTheOldOutput) {
  if (!TestingWindowsBuild()) GTEST_SKIP() << "the signal handler's clean-up is tested natively";
  struct Case {
    std::vector<std::string> args;
    std::string old;  // what stands at the output path, if anything
    int signal = SIGINT;  // Ctrl-C to wine; the others kill the process, with no handler run
  };
  const std::vector<std::string> encrypt = {"-e", "key.bin", "big.bin", "o.tvx"};
  const Case cases[] = {{encrypt, "old"}, {encrypt, ""}, {encrypt, "old", SIGTERM},
                        {encrypt, "old", SIGHUP}, {encrypt, "old", SIGKILL}};
  for (const Case& c : cases) {
    SCOPED_TRACE((c.old.empty() ? "no output yet, signal " : "an old output, signal ") +
                 std::to_string(c.signal));
    TempDir dir;
    WriteFile(dir / "key.bin", RandomBytes(300, 3));
    // 2 GiB of text to write from an input that costs no disk: 3 to 12 s
    // under wine, against milliseconds for the interruption to come.
    WriteFile(dir / "big.bin", "");
    ASSERT_EQ(::truncate((dir / "big.bin").c_str(), std::int64_t{256} << 20), 0);
    if (!c.old.empty()) WriteFile(dir / "bin#o.tvx", c.old);
    const std::vector<std::string> expected = NamesIn(dir.path);
    bool interrupted = false;
    ToolOptions options;
    // wine takes SIGINT for Ctrl-C and runs the console control handler:
    // sent once the temporary file is there, in the middle of the run.
    options.while_running = [&](int pid) {
      for (int waited = 0; waited < 30000 && !interrupted; waited += 2) {
        for (const std::string& name : NamesIn(dir.path)) {
          // A kill comes once the run is well under way.
          if (name.rfind("~tvx", 0) == 0 && c.signal != SIGINT) ::usleep(200000);
          if (name.rfind("~tvx", 0) == 0) interrupted = ::kill(pid, c.signal) == 0;
        }
        if (!interrupted) ::usleep(2000);
      }
      // A handler that never ends the run must not write its 2 GiB.
      siginfo_t info{};
      for (int waited = 0; waited < 10000; waited += 10) {
        info.si_pid = 0;
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
          return;
        }
        ::usleep(10000);
      }
      ::kill(pid, SIGKILL);
    };
    const ToolResult run = RunTool(dir.path, c.args, options);
    EXPECT_TRUE(interrupted) << "no temporary file showed up";
    EXPECT_EQ(run.status, c.signal == SIGINT ? kCtrlCStatus : -1) << run.err;
    EXPECT_EQ(run.signal, c.signal == SIGINT ? 0 : c.signal);
    // The tool says nothing. Wine may: about one run in a hundred, a thread
    // that ExitProcess stops inside a call to the wine server leaves a
    // "wine client error:" line of wine's own.
    const std::regex wine_says("wine client error:[0-9a-f]+: [^\n]*\n?");
    EXPECT_EQ(std::regex_replace(run.err, wine_says, ""), "") << run.err;
    EXPECT_EQ(run.out.rfind(Lines(KeyLine(300) + "\n" + kScale + "\n"), 0), 0u) << run.out;
    // A killed process's file goes with its handles, once wine's server notices.
    for (int waited = 0; waited < 5000 && NamesIn(dir.path) != expected; waited += 10) ::usleep(10000);
    EXPECT_EQ(NamesIn(dir.path), expected);
    if (!c.old.empty()) {
      EXPECT_TRUE(SameBytes(ReadFile(dir / "bin#o.tvx"), c.old));
    }
  }
}

TEST(E2EWindowsOnly, AnInterruptedConsoleWriteLeavesTheCodePageAndColour) {
  if (!TestingWindowsBuild()) GTEST_SKIP() << "code pages are the Windows console's";
  ASSERT_EQ(::system("command -v script >/dev/null 2>&1"), 0)
      << "script (util-linux) gives the helper a console";
  ASSERT_FALSE(Env("TALVEX_INTERRUPT_CLEANUP").empty())
      << "TALVEX_INTERRUPT_CLEANUP names the helper";
  TempDir dir;
  const ToolResult run = RunOnTerminal(dir.path, {}, "", Env("TALVEX_INTERRUPT_CLEANUP"));
  // What it says comes last, after the x's of the write.
  const std::string said = run.out.substr(run.out.size() > 200 ? run.out.size() - 200 : 0);
  EXPECT_EQ(run.status, 0) << said;
  EXPECT_NE(said.find("kept\r"), std::string::npos) << said;
}

TEST(E2EWindowsPaths, BlanksAndNonAsciiNamesRoundTrip) {
  struct Case {
    std::string key;
    std::string input;
    std::string output;     // as given to -e
    std::string encrypted;  // the name -e derives
    std::string restore;    // as given to -d
    std::string restored;   // the name -d derives
  };
  // 292 characters of folders, for a key, input and output of about 300
  // characters, and 240, for an output path of 250 whose temporary file
  // beside it must not need more than 259.
  const std::string deep = std::string(120, 'k') + "/" + std::string(120, 'l') + "/" + std::string(50, 'm');
  const std::string near = std::string(120, 'n') + "/" + std::string(119, 'p');
  const Case cases[] = {
      {deep + "/key.bin", deep + "/in.txt", deep + "/o.tvx", deep + "/txt#o.tvx", deep + "/back.x",
       deep + "/back.txt"},
      {"key.bin", "in.txt", near + "/outp.tvx", near + "/txt#outp.tvx", near + "/back.x",
       near + "/back.txt"},
      {"key file.bin", "my file.txt", "my secret.tvx", "txt#my secret.tvx", "back again.x",
       "back again.txt"},
      {"schlüssel.bin", "Grüße.txt", "geheim ß.tvx", "txt#geheim ß.tvx", "zurück.out",
       "zurück.txt"},
      {"鍵.bin", "日本語 文書.doc", "暗号 化.tvx", "doc#暗号 化.tvx", "復号.bin", "復号.doc"},
      {"key.bin", "notes.日本", "n.tvx", "日本#n.tvx", "back.x", "back.日本#"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    TempDir dir;
    const std::string plain = RandomBytes(777, 5);
    for (const std::string* path : {&c.key, &c.input, &c.output}) {
      std::filesystem::create_directories(std::filesystem::path(dir / *path).parent_path());
    }
    WriteFile(dir / c.key, RandomBytes(400, 6));
    WriteFile(dir / c.input, plain);
    const ToolResult encrypted = RunTool(dir.path, {"-e", c.key, c.input, c.output});
    ASSERT_EQ(encrypted.status, 0) << encrypted.err;
    EXPECT_EQ(encrypted.out, Lines(KeyLine(400) + Bar(64, "Encryption")));
    ASSERT_TRUE(PathExists(dir / c.encrypted)) << encrypted.out;
    const ToolResult tested = RunTool(dir.path, {"-t", c.key, c.encrypted});
    EXPECT_NE(tested.out.find("File: " + c.encrypted + " is a valid"), std::string::npos)
        << tested.out;
    const ToolResult decrypted = RunTool(dir.path, {"-d", c.key, c.encrypted, c.restore});
    ASSERT_EQ(decrypted.status, 0) << decrypted.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / c.restored), plain));
    std::vector<std::string> left;
    for (const auto& [name, content] : FolderContents(dir.path)) left.push_back(name);
    std::vector<std::string> expected = {c.key, c.input, c.encrypted, c.restored};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
  }
}

}  // namespace
