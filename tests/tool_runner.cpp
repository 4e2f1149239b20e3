#include "tool_runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

// Whether process pid has exited, without reaping it: until the wait, its
// id names it and no other process.
bool Exited(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// How long the pipes are read after the process exited. What it wrote is
// in them by then; a process it left behind may hold them open for much
// longer, and that is no output of the tool's but a fault of the test that
// left it (a feed's background writer that outlives the tool).
constexpr std::chrono::seconds kReadAfterExit{5};

// Reads both pipes to their ends without letting either fill up, or until
// kReadAfterExit after process pid exited, which fails the test.
void Drain(int out_fd, int err_fd, std::string& out, std::string& err, pid_t pid) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  std::optional<std::chrono::steady_clock::time_point> until;
  while (open > 0) {
    int wait_ms = 100;  // how often the exit is looked for while nothing comes
    if (until) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        ADD_FAILURE() << "the output pipes of process " << pid << " were still open "
                      << kReadAfterExit.count() << " s after it exited: something it left holds them";
        break;
      }
      wait_ms = static_cast<int>(std::min<std::int64_t>(left.count(), wait_ms));
    }
    const int ready = ::poll(fds, 2, wait_ms);
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; ready > 0 && i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
    if (!until && Exited(pid)) until = std::chrono::steady_clock::now() + kReadAfterExit;
  }
  for (const pollfd& entry : fds) {
    if (entry.fd >= 0) ::close(entry.fd);
  }
}

// The emulator that starts the programs of a cross build, and its options.
#ifdef TALVEX_EMULATOR
const std::vector<std::string> kEmulator = {TALVEX_EMULATOR};
#else
const std::vector<std::string> kEmulator;
#endif

}  // namespace

void DefaultSignalsForChild() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  // SIGKILL, SIGSTOP and the C library's own signals refuse; they are
  // never ignored or blocked anyway.
  for (int number = 1; number < NSIG; ++number) ::sigaction(number, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

bool TestingWindowsBuild() { return EnvOr("TALVEX_LINE_END", "") == "crlf"; }

bool TestingUnderEmulator() { return !kEmulator.empty() && EnvOr("TALVEX_UNDER_TEST", "").empty(); }

std::string Lines(const std::string& text) {
  if (!TestingWindowsBuild()) return text;
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

namespace {

// The runner that starts the binary under test, if any: none for the
// build's own binary.
std::vector<std::string> RunnerWords(bool native) {
  const std::string runner = native ? "" : EnvOr("TALVEX_RUNNER", "");
  return runner.empty() ? std::vector<std::string>{} : std::vector<std::string>{runner};
}

// The binary under test; the build's own one through the emulator of a
// cross build, which the other binaries (the Windows build) do not need.
std::vector<std::string> BinaryWords(bool native) {
  const std::string other = native ? "" : EnvOr("TALVEX_UNDER_TEST", "");
  if (!other.empty()) return {other};
  std::vector<std::string> words = kEmulator;
  words.push_back(TALVEX_BINARY);
  return words;
}

}  // namespace

std::vector<std::string> ToolCommandWords(bool native) {
  std::vector<std::string> words = RunnerWords(native);
  for (std::string& word : BinaryWords(native)) words.push_back(std::move(word));
  return words;
}

ToolResult RunTool(const std::string& dir, const std::vector<std::string>& args,
                   const ToolOptions& options) {
  std::vector<std::string> argv_strings = options.prefix;
  for (const std::vector<std::string>& part :
       {RunnerWords(options.native), options.starter, BinaryWords(options.native), args}) {
    argv_strings.insert(argv_strings.end(), part.begin(), part.end());
  }

  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    // The colour switches are the test's to set.
    if (entry.rfind("NO_COLOR=", 0) == 0 || entry.rfind("FORCE_COLOR=", 0) == 0 ||
        entry.rfind("CLICOLOR_FORCE=", 0) == 0) {
      continue;
    }
    // The options' own settings replace what the test inherited.
    const std::string name = entry.substr(0, entry.find('=') + 1);
    if (std::any_of(options.environment.begin(), options.environment.end(),
                    [&](const std::string& extra) { return extra.rfind(name, 0) == 0; })) {
      continue;
    }
    env_strings.push_back(entry);
  }
  if (options.force_colour) env_strings.push_back("FORCE_COLOR=1");
  for (const auto& extra : options.environment) env_strings.push_back(extra);

  std::vector<char*> argv, envp;
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  int out_pipe[2], err_pipe[2], in_pipe[2] = {-1, -1};
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) return {};
  if (options.input != nullptr && ::pipe2(in_pipe, O_CLOEXEC) != 0) return {};
  ::signal(SIGPIPE, SIG_IGN);  // the tool may stop reading its stdin early
  const pid_t pid = ::fork();
  if (pid == 0) {
    DefaultSignalsForChild();
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    if (options.input != nullptr) {
      ::dup2(in_pipe[0], STDIN_FILENO);
    } else {
      int null_fd = ::open("/dev/null", O_RDONLY);
      if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    }
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    // No core files in the test's folders, not even from SIGQUIT.
    rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    if (options.file_size_limit >= 0) {
      // Ignored, a write past the limit fails with EFBIG.
      if (options.ignore_sigxfsz) ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                   static_cast<rlim_t>(options.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    for (const auto& [resource, bytes] : {std::pair{RLIMIT_AS, options.memory_limit},
                                          std::pair{RLIMIT_DATA, options.data_limit}}) {
      if (bytes < 0) continue;
      rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
      ::setrlimit(resource, &limit);
    }
    // A test that is not root is unprivileged already, and may not switch.
    if (options.as_nobody && ::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      const gid_t gid = nobody ? nobody->pw_gid : 65534;
      const uid_t uid = nobody ? nobody->pw_uid : 65534;
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(125);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  // The tool's stdin is written beside the draining of its output, so that
  // neither side waits for the other.
  std::thread feeder;
  if (options.input != nullptr) {
    ::close(in_pipe[0]);
    feeder = std::thread([fd = in_pipe[1], &data = *options.input] {
      for (std::size_t at = 0; at < data.size();) {
        const ssize_t n = ::write(fd, data.data() + at, data.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the tool stopped reading
        at += static_cast<std::size_t>(n);
      }
      ::close(fd);
    });
  }
  std::thread watcher;
  if (options.while_running) watcher = std::thread(options.while_running, static_cast<int>(pid));
  ToolResult result;
  Drain(out_pipe[0], err_pipe[0], result.out, result.err, pid);
  if (feeder.joinable()) feeder.join();
  // Before the wait: until then the process id names the tool (or what
  // remains of it), never another process.
  if (watcher.joinable()) watcher.join();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

FifoFeeder::FifoFeeder(const std::string& path, std::string content) {
  ::signal(SIGPIPE, SIG_IGN);  // a reader may stop early
  thread = std::thread([this, path, content = std::move(content)] {
    // Waits for the reader, but not for ever, and not once the test is done
    // with the FIFO: a tool that never opens it must not hang the test.
    int fd = -1;
    for (int waited = 0; fd < 0 && waited < 60000 && !done; ++waited) {
      fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
      if (fd < 0) ::usleep(1000);
    }
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    for (std::size_t at = 0; fd >= 0 && at < content.size();) {
      const ssize_t n = ::write(fd, content.data() + at, content.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    if (fd >= 0) ::close(fd);
  });
}

FifoFeeder::~FifoFeeder() {
  done = true;
  thread.join();
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "talvex-test-XXXXXX").string();
  path = ::mkdtemp(pattern.data()) ? pattern : std::string();
  // Steps run as an unprivileged user must be able to enter and create here.
  if (!path.empty()) ::chmod(path.c_str(), 0777);
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

bool PathExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

namespace {

std::uint64_t Fnv1a(const std::string& bytes) {
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
  return hash;
}

std::string Described(const std::string& bytes) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016" PRIx64, Fnv1a(bytes));
  return std::to_string(bytes.size()) + " bytes (FNV-1a " + hash + ")";
}

}  // namespace

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  // Printed escaped, a byte takes up to four characters: both strings whole
  // stay within a few KiB up to this size.
  constexpr std::size_t kShownWhole = 256;
  constexpr std::size_t kShownAround = 32;
  if (actual.size() <= kShownWhole && expected.size() <= kShownWhole) {
    return ::testing::AssertionFailure() << ::testing::PrintToString(actual) << " where "
                                         << ::testing::PrintToString(expected) << " was expected";
  }
  const std::size_t at = static_cast<std::size_t>(
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
      actual.begin());
  return ::testing::AssertionFailure()
         << Described(actual) << " where " << Described(expected)
         << " were expected; they first differ at offset " << at << ": " << ::testing::PrintToString(actual.substr(at, kShownAround)) << " where "
         << ::testing::PrintToString(expected.substr(at, kShownAround)) << " was expected";
}

std::string RandomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (auto& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}
