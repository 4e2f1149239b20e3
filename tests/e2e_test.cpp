// The built binary run as a user runs it: exact console text, exit status,
// and the bytes left on disk.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <linux/fs.h>
#include <regex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_support.h"

namespace {

#ifdef TALVEX_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const std::string kHelp =
    "                         Unhackable Encryption for Files          \n"
    "                     (c) The Talvex developers                    \n"
    "                                TalvexCMD v 2.4                   \n"
    "\n"
    "Usage: [-edtih] <keyfile> <inputfile> <outputfile>\n"
    "\n"
    "Commands:\n"
    "    -e       encrypt\n"
    "    -d       decrypt\n"
    "    -t       test encrypted file\n"
    "    -i       info\n"
    "    -h       help\n"
    "\n"
    "\n";

const std::string kInfo =
    "Why is Talvex Encryption unbreakable?\n"
    "\n"
    "Talvex Encryption is based on a key file that you must have to secure files.\n"
    "You can compare this key file to a book where on the pages different random\n"
    "letters are chosen. \n"
    "\n"
    "These letters are used to encrypt your file.\n"
    "\n"
    "Therefore, it is impossible to decrypt the file if you are not in\n"
    "possession of that book or in case of Talvex Encryption the key file.\n"
    "The larger the key file, the better the security is.... \n"
    "\n"
    "\n";

// What getfacl shows of path: every entry, with numeric ids and the rights
// as given, one a line; or why it could not tell.
std::string AclOf(const std::string& path) {
  FILE* pipe = ::popen(("getfacl -c -n -E -p -- '" + path + "' 2>&1").c_str(), "r");
  if (pipe == nullptr) return "getfacl could not be started";
  std::string text;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  return ::pclose(pipe) == 0 ? text : "getfacl (package acl) failed: " + text;
}

// Sets or clears the append-only flag of a folder; false where its file
// system or this machine refuses it.
bool SetAppendOnly(const std::string& folder, bool on) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  int flags = 0;
  const bool set = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                   (flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL,
                    ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  if (fd >= 0) ::close(fd);
  return set;
}

using E2ERouting = E2E;
using E2EFlow = E2E;
using E2EFailure = E2E;

// Runs under memory limits: POSIX only, and not under the sanitizers,
// whose own reservations exceed the limits, nor under qemu-user.
struct E2EMemory : E2E {
  void SetUp() override {
#ifdef TALVEX_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more memory than the limits allow";
#endif
    if (TestingWindowsBuild()) GTEST_SKIP() << "memory limits are a POSIX test";
    if (TestingUnderEmulator()) GTEST_SKIP() << "qemu-user keeps memory limits from the host";
    E2E::SetUp();
  }
};

}  // namespace

TEST_F(E2ERouting, EveryRowOfTheRoutingTable) {
  WriteFile(dir / "good.tvx", "");
  const std::string in_missing = Error("INPUTFILE 'nothing' does NOT exist");
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{}, kHelp},
      {{"-e", "key"}, kHelp},
      {{"-e", "key", "in.dat", "o.tvx", "x"}, kHelp},
      {{"-x"}, kHelp},
      {{"-T", "key", "in.tvx"}, kHelp},
      {{"", "", ""}, kHelp},
      {{"-e"}, ""},
      {{"-d"}, ""},
      {{"-t"}, ""},
      // Substrings byte for byte: -hi holds -h but not -i, -ih only -i.
      {{"-hi"}, kHelp},
      {{"-ih"}, kInfo},
      {{"x-i-h"}, kHelp + kInfo},
      {{"--help", "nokey", "in"}, kHelp},
      {{"-i", "nokey", "in", "out"}, kInfo},
      {{"-e-h", "nokey", "in", "out.tvx"}, kHelp},
      {{"-eh", "key", "in.dat", "out.tvx"}, KeyLine(4096)},
      {{"-e", "nokey", "in"}, Line("Usage: [-edtih] <keyfile> <inputfile> <outputfile>") +
                                  Error("The '-e' and '-d' Commands need 4 Parameters!")},
      {{"x-t", "key", "good.tvx"}, KeyLine(4096)},
      {{"-ex", "key", "in.dat", "out.tvx"}, KeyLine(4096)},
      {{"-td", "key", "in.dat", "out.tvx"}, KeyLine(4096)},
      {{"-e", "nokey", "nothing", "out.txt"}, Error("KEYFILE does not exist!")},
      {{"-e", "", "", ""}, Error("KEYFILE does not exist!")},
      {{"-d", ".", "in.tvx", "out"}, Error("KEYFILE does not exist!")},
      {{"-e", "key", "nothing", "out.txt"}, KeyLine(4096) + in_missing},
      {{"-d", "key", "nothing", "out.txt"}, KeyLine(4096) + in_missing},
      {{"-e", "key", ".", "out.tvx"}, KeyLine(4096) + Error("INPUTFILE '.' does NOT exist")},
      {{"-e", "key", "in.dat", "out.tv"}, KeyLine(4096) + Error("OUTPUTFILE must have 'tvx' extension!")},
      {{"-d", "key", "in.dat", "out.tvx"}, KeyLine(4096) + Error("INPUTFILE must have 'tvx' extension!")},
      {{"-t", "key", "nothing.tvx"}, KeyLine(4096) + Error("INPUTFILE is not an encrypted 'Talvex File'!")},
      {{"-t", "key", "in.dat"}, KeyLine(4096) + Error("INPUTFILE is not an encrypted 'Talvex File'!")},
      {{"-t", "key", "good.tvx", "extra"},
       KeyLine(4096) + Error("File: good.tvx is NOT a valid 'Talvex Encryption' file!")},
      {{"-d", "key", "good.tvx", "out"}, KeyLine(4096) + Error("This is NOT a valid KEYFILE and/or TALVEX File!")},
      {{"-e", "key", "in.dat", "no/such/out.tvx"}, KeyLine(4096) + Error("Cannot write to OUTPUTFILE: no/such/out.tvx")},
      // A name never reaches the terminal with its control characters.
      {{"-e", "key", "a\x1B]0;x\x07\xC2\x9B\x7F", "o.tvx"},
       KeyLine(4096) + Error("INPUTFILE 'a\\x1B]0;x\\x07\\xC2\\x9B\\x7F' does NOT exist")},
      {{"-e", "key", "in.dat", "no/\x1B[2J.tvx"}, KeyLine(4096) + Error("Cannot write to OUTPUTFILE: no/\\x1B[2J.tvx")},
  };
  for (const Case& c : cases) ExpectRun(c.args, c.out);
  EXPECT_EQ(NewFiles(), std::vector<std::string>{"good.tvx"});
}

TEST_F(E2ERouting, KeySizeLimits) {
  struct Case {
    std::int64_t size;
    bool accepted;
  } cases[] = {{0, false}, {99, false}, {100, true}, {255, true}, {256, true},
               {65535, true}, {65536, true}, {1000000000, true}, {1000000001, false},
               {2000000000, false}};
  // A key too large is refused from its size on disk, before any of it is
  // read or mapped: strace shows what is done with the key's descriptor.
  const bool traced = !TestingWindowsBuild() && PathExists("/usr/bin/strace");
  ToolOptions tracing;
  tracing.native = true;
  tracing.prefix = {"/usr/bin/strace", "-f", "-qq", "-o", dir / "trace", "-P", dir / "key"};
  tracing.environment = {"ASAN_OPTIONS=detect_leaks=0"};  // no leak checker under a tracer
  const std::regex read_call(R"((^|\n)\d* *p?read(v|64|v2)?\(.*= (\d+))");
  for (const Case& c : cases) {
    // Sparse files: the large keys cost no disk.
    ASSERT_EQ(::truncate((dir / "key").c_str(), c.size), 0);
    ExpectRun({"-t", "key", "none.tvx"},
              c.accepted ? KeyLine(static_cast<std::size_t>(c.size)) +
                               Error("INPUTFILE is not an encrypted 'Talvex File'!")
                         : Error("KEYFILE SIZE must be between 100 bytes and 1 GB!"));
    if (c.accepted || !traced) continue;
    EXPECT_EQ(Run({"-t", "key", "none.tvx"}, tracing).status, 0);
    const std::string trace = ReadFile(dir / "trace");
    std::int64_t bytes_read = 0;
    for (std::sregex_iterator at(trace.begin(), trace.end(), read_call), end; at != end; ++at) {
      bytes_read += std::stoll((*at)[3]);
    }
    EXPECT_EQ(bytes_read, 0) << c.size << "\n" << trace;
    EXPECT_EQ(trace.find("mmap"), std::string::npos) << c.size << "\n" << trace;
  }
  if (!traced && !TestingWindowsBuild()) {
    if (std::getenv("CI") != nullptr) GTEST_FAIL() << "strace is needed";
    GTEST_SKIP() << "strace is not installed: the refused keys were not traced";
  }
}

TEST_F(E2EFlow, RoundTripsInEveryModeWithExactScreensAndBytes) {
  std::string every_value(256, '\0');
  for (int i = 0; i < 256; ++i) every_value[i] = static_cast<char>(i);
  struct Case {
    std::size_t key_size, entry, empty_text;
  } modes[] = {{100, 6, 46}, {256, 8, 58}, {65536, 12, 82}};
  for (const Case& m : modes) {
    WriteFile(dir / "key", RandomBytes(m.key_size, 3));
    for (const std::string& source : {std::string(), every_value, RandomBytes(300000, 4)}) {
      WriteFile(dir / "in.dat", source);
      const std::size_t stars = std::min<std::size_t>(64, source.size());
      ExpectRun({"-e", "key", "in.dat", "out.tvx"}, KeyLine(m.key_size) + Bar(stars, "Encryption"));
      const std::string text = ReadFile(dir / "dat#out.tvx");
      ASSERT_EQ(text.size(), m.empty_text + m.entry * source.size());
      EXPECT_EQ(text.substr(text.size() - 7), "**END**");
      ExpectRun({"-t", "key", "dat#out.tvx"},
                KeyLine(m.key_size) + Line("File: dat#out.tvx is a valid 'Talvex Encryption' file!") + "\n\n");
      // Decryption steps through text offsets: its last call is at the offset
      // of the end marker.
      const std::size_t n = text.size();
      const std::size_t decrypt_stars = source.empty() ? 0 : (64 * (n - 6)) / n;
      ExpectRun({"-d", "key", "dat#out.tvx", "back.bin"},
                KeyLine(m.key_size) + Bar(decrypt_stars, "Decryption"));
      ASSERT_TRUE(SameBytes(ReadFile(dir / "back.dat"), source));
      EXPECT_EQ(NewFiles(), (std::vector<std::string>{"back.dat", "dat#out.tvx"}));
      std::filesystem::remove(dir / "back.dat");
    }
  }
}

TEST_F(E2EFlow, PathsWithBlanksDashesAndNonAsciiBytes) {
  WriteFile(dir / "my key", key);
  WriteFile(dir / "-f\xC3\xBC r.txt", "data");
  ExpectRun({"-e", "my key", "-f\xC3\xBC r.txt", "-x y.TVX"}, KeyLine(4096) + Bar(4, "Encryption"));
  ExpectRun({"-d", "my key", "txt#-x y.TVX", " \xC3\xA9 .x"}, KeyLine(4096) + Bar(4, "Decryption"));
  EXPECT_TRUE(SameBytes(ReadFile(dir / "\xC3\xA9.txt"), "data"));
}

TEST_F(E2EFlow, NeverWritesOverTheInputOrTheKey) {
  const std::string refusal = Error("OUTPUTFILE must not be the INPUTFILE or the KEYFILE!");
  ExpectRun({"-e", "key", "in.dat", "x.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
  std::filesystem::copy(dir / "dat#x.tvx", dir / "tvx#a.tvx");
  std::filesystem::copy(dir / "dat#x.tvx", dir / "tvx.tvx");
  std::filesystem::copy(dir / "key", dir / "k.tvx");
  const std::string a = ReadFile(dir / "tvx#a.tvx");
  struct Case {
    std::vector<std::string> args;
  } cases[] = {
      {{"-e", "key", "tvx#a.tvx", "a.tvx"}},
      {{"-e", "key", "./tvx#a.tvx", "a.tvx"}},
      {{"-d", "key", "tvx.tvx", "tvx.x"}},
      {{"-d", "k.tvx", "tvx#a.tvx", "k"}},
  };
  for (const Case& c : cases) ExpectRun(c.args, KeyLine(4096) + refusal);
  EXPECT_TRUE(SameBytes(ReadFile(dir / "tvx#a.tvx"), a));
  EXPECT_TRUE(SameBytes(ReadFile(dir / "tvx.tvx"), a));
  EXPECT_TRUE(SameBytes(ReadFile(dir / "k.tvx"), key));
}

TEST_F(E2EFlow, ReplacesAnExistingOutputOnlyOnSuccess) {
  WriteFile(dir / "dat#out.tvx", "old");
  ::chmod((dir / "dat#out.tvx").c_str(), 0640);
  ExpectRun({"-e", "key", "in.dat", "out.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
  EXPECT_EQ(ReadFile(dir / "dat#out.tvx").size(), 58u + 8 * 1000);
  struct stat st {};
  ::stat((dir / "dat#out.tvx").c_str(), &st);
  // Windows has no permission bits to carry over (wine shows the umask's).
  if (!TestingWindowsBuild()) {
    EXPECT_EQ(st.st_mode & 0777, 0640u);
  }
  EXPECT_EQ(NewFiles(), std::vector<std::string>{"dat#out.tvx"});
}

TEST_F(E2EFlow, PipesAndDevicesAreReadToTheirEnd) {
  if (TestingWindowsBuild()) GTEST_SKIP() << "/dev/stdin and FIFOs are POSIX names";
  // An input from a pipe: "/dev/stdin" has no extension, so "#p.tvx".
  const std::string source = RandomBytes(100000, 5);
  ToolOptions piped;
  piped.input = &source;
  const ToolResult encrypted = Run({"-e", "key", "/dev/stdin", "p.tvx"}, piped);
  EXPECT_EQ(encrypted.out, Lines(KeyLine(4096) + Bar(64, "Encryption")));
  EXPECT_EQ(encrypted.status, 0) << encrypted.err;
  const std::string text = ReadFile(dir / "#p.tvx");
  EXPECT_EQ(text.size(), 58 + 8 * source.size());
  ExpectRun({"-d", "key", "#p.tvx", "back"}, KeyLine(4096) + Bar(63, "Decryption"));
  EXPECT_TRUE(SameBytes(ReadFile(dir / "back.#p."), source));
  // An empty pipe is an empty input.
  const std::string nothing;
  piped.input = &nothing;
  EXPECT_EQ(Run({"-e", "key", "/dev/stdin", "e.tvx"}, piped).out, Lines(KeyLine(4096) + Bar(0, "Encryption")));
  EXPECT_EQ(ReadFile(dir / "#e.tvx").size(), 58u);
  // A key from a pipe, and one a byte too short.
  piped.input = &key;
  EXPECT_EQ(Run({"-e", "/dev/stdin", "in.dat", "k.tvx"}, piped).out,
            Lines(KeyLine(4096) + Bar(64, "Encryption")));
  ExpectRun({"-d", "key", "dat#k.tvx", "k"}, KeyLine(4096) + Bar(63, "Decryption"));
  EXPECT_TRUE(SameBytes(ReadFile(dir / "k.dat"), ReadFile(dir / "in.dat")));
  const std::string short_key = key.substr(0, 99);
  piped.input = &short_key;
  EXPECT_EQ(Run({"-t", "/dev/stdin", "x.tvx"}, piped).out,
            Lines(Error("KEYFILE SIZE must be between 100 bytes and 1 GB!")));
  // A FIFO whose name ends in .tvx, tested and decrypted.
  ASSERT_EQ(::mkfifo((dir / "f.tvx").c_str(), 0600), 0);
  {
    FifoFeeder feeder(dir / "f.tvx", text);
    ExpectRun({"-t", "key", "f.tvx"}, KeyLine(4096) + Line("File: f.tvx is a valid 'Talvex Encryption' file!") + "\n\n");
  }
  {
    FifoFeeder feeder(dir / "f.tvx", text);
    ExpectRun({"-d", "key", "f.tvx", "fifo.out"}, KeyLine(4096) + Bar(63, "Decryption"));
  }
  EXPECT_TRUE(SameBytes(ReadFile(dir / "fifo.f.t"), source));
  // Files of the kernel's that say they are empty, or 4096 bytes long, and
  // are not: read to their end as cat reads them.
  for (const std::string pseudo : {"/proc/version", "/sys/kernel/mm/transparent_hugepage/enabled"}) {
    const std::string content = ReadFile(pseudo);
    if (content.empty()) continue;  // not on every kernel
    const std::size_t stars = std::min<std::size_t>(content.size(), 64);
    ExpectRun({"-e", "key", pseudo, "v.tvx"}, KeyLine(4096) + Bar(stars, "Encryption"));
    EXPECT_EQ(ReadFile(dir / "#v.tvx").size(), 58 + 8 * content.size()) << pseudo;
    EXPECT_EQ(Run({"-d", "key", "#v.tvx", "v"}).status, 0);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "v.#v."), content)) << pseudo;
  }
}

TEST_F(E2EFlow, AnOutputPathAsLongAsTheSystemTakes) {
  if (TestingWindowsBuild()) GTEST_SKIP() << "the limit of 4,096 bytes is Linux's";
  // 4,093 bytes with a short file name: the folder's path alone is 4,083,
  // too long for a temporary file named beside the output by its path.
  std::string folder;
  for (int i = 0; i < 16; ++i) folder += std::string(250, 'a' + i) + "/";
  folder += std::string(66, 'z') + "/";
  const std::string output = folder + "dat#ab.tvx";
  ASSERT_EQ(output.size(), 4093u);
  // The test reaches it a folder at a time, and then through the folder's
  // descriptor: from here its path is longer than the system takes.
  int at = ::open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t from = 0, slash; (slash = folder.find('/', from)) != std::string::npos; from = slash + 1) {
    const std::string name = folder.substr(from, slash - from);
    ::mkdirat(at, name.c_str(), 0777);
    const int next = ::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(at);
    at = next;
  }
  ASSERT_GE(at, 0);
  const std::string deep = "/proc/self/fd/" + std::to_string(at);
  for (const bool old_file : {false, true}) {
    if (old_file) WriteFile(deep + "/dat#ab.tvx", "old");
    ExpectRun({"-e", "key", "in.dat", folder + "ab.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
    EXPECT_EQ(ReadFile(deep + "/dat#ab.tvx").size(), 58u + 8 * 1000) << old_file;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(deep), {}), 1) << old_file;
  }
  // And back from there.
  const std::string back = std::string(90, 'b');
  ExpectRun({"-d", "key", output, back}, KeyLine(4096) + Bar(63, "Decryption"));
  EXPECT_TRUE(SameBytes(ReadFile(dir / (back + ".dat")), ReadFile(dir / "in.dat")));
  ::close(at);
  // A name of 254 bytes that becomes one longer than the file system takes.
  const std::string long_name = std::string(250, 'n') + ".tvx";
  ExpectRun({"-e", "key", "in.dat", long_name}, KeyLine(4096) + Error("Cannot write to OUTPUTFILE: " + long_name));
}

TEST_F(E2EFlow, AReplacedOutputReachesTheDiskBeforeTheRename) {
  if (TestingWindowsBuild()) GTEST_SKIP() << "traced on Linux; Windows flushes the same way";
  if (!PathExists("/usr/bin/strace")) {
    if (std::getenv("CI") != nullptr) GTEST_FAIL() << "strace is needed";
    GTEST_SKIP() << "strace is not installed";
  }
  // Our own file in a folder of ours that nobody else may write hands on
  // its group.
  ::chmod(dir.path.c_str(), 0755);
  // A new output is not flushed (like cp); one that replaces a file is,
  // before the rename, so a crash leaves either the old or the new file.
  // The text is ours alone until its last byte is written; then the file
  // gets its group (from our own old file), its ACL and its mode, in that
  // order, so that no moment grants more than the end. Made without a
  // name, it gets one only then, before it is closed: by its descriptor,
  // else through /proc (the first try of each link failed here), else it
  // is made with a name (every link failed).
  struct Case {
    bool replacing;
    const char* failed_links;
  } cases[] = {{false, ""}, {true, ""}, {true, "1+2"}, {true, "1+"}};
  for (const Case& c : cases) {
    ToolOptions traced;
    traced.native = true;
    traced.prefix = {"/usr/bin/strace", "-f", "-qq", "-o", dir / "trace", "-e",
                     "trace=openat,write,fchown,fchmod,fsetxattr,fremovexattr,fsync,fdatasync,"
                     "linkat,close,rename,renameat,renameat2"};
    if (*c.failed_links) traced.prefix.push_back(std::string("--inject=linkat:error=ENOENT:when=") + c.failed_links);
    // The leak checker of a sanitized build refuses to run under a tracer.
    traced.environment = {"ASAN_OPTIONS=detect_leaks=0"};
    EXPECT_EQ(RunTool(dir.path, {"-e", "key", "in.dat", "out.tvx"}, traced).status, 0);
    EXPECT_EQ(ReadFile(dir / "dat#out.tvx").size(), 58u + 8 * 1000);
    const std::string trace = ReadFile(dir / "trace");
    const std::regex making(R"re(openat\(\d+, "(\.|\.talvex-\w+)", [^)]*(O_TMPFILE|O_CREAT)[^)]*, 0600\) = (\d+))re");
    std::string fd;  // of the file last made, which the text goes to
    for (std::sregex_iterator it(trace.begin(), trace.end(), making), end; it != end; ++it) fd = (*it)[3];
    ASSERT_FALSE(fd.empty()) << trace;
    const auto last_write = trace.rfind("write(" + fd + ",");
    const auto group = trace.find("fchown(");
    const auto acl = trace.find("xattr(");
    const auto mode = trace.find("fchmod(");
    const auto sync = trace.find("fdatasync(");
    std::smatch linked;
    const bool named = std::regex_search(trace, linked, std::regex(R"re(linkat\([^\n]*"\.talvex-\w+", [^\n]*\) = 0)re"));
    const auto link = named ? static_cast<std::size_t>(linked.position(0)) : std::string::npos;
    const auto rename = trace.find("rename");
    ASSERT_NE(rename, std::string::npos) << trace;
    EXPECT_TRUE(last_write < acl && acl < mode && mode < rename) << trace;
    EXPECT_EQ(named, std::string(c.failed_links) != "1+") << trace;
    if (named) {
      EXPECT_TRUE(mode < link && link < trace.find("close(" + fd + ")", link) && link < rename) << trace;
    }
    if (c.replacing) {
      EXPECT_TRUE(last_write < group && group < acl && sync < rename) << trace;
    } else {
      EXPECT_EQ(group, std::string::npos) << trace;
      EXPECT_EQ(sync, std::string::npos) << trace;
    }
  }
}

TEST_F(E2EFlow, ColoursWhenForced) {
  ToolOptions colour;
  colour.force_colour = true;
  const ToolResult help = Run({"-h"}, colour);
  std::string expected = "\x1b[2J\x1b[H\x1b[0;32m" + kHelp;
  expected.insert(expected.find("Usage"), "\x1b[0;97m");
  expected.insert(expected.find("Commands"), "\x1b[0;93m");
  expected.insert(expected.find("    -e"), "\x1b[0;97m");
  EXPECT_EQ(help.out, Lines(expected + "\x1b[0m"));

  const ToolResult error = Run({"-t", "key", "none.tvx"}, colour);
  EXPECT_EQ(error.out, Lines(KeyLine(4096) + "\n\x1b[0;91m--> ERROR! <--\n\n\x1b[0;93m"
                             "INPUTFILE is not an encrypted 'Talvex File'!\n\n\n\x1b[0m"));
  // NO_COLOR and TERM=dumb leave a pipe plain; nothing colours it unforced.
  ToolOptions no_colour;
  no_colour.environment = {"NO_COLOR=1", "TERM=dumb"};
  EXPECT_EQ(Run({"-h"}, no_colour).out, Lines(kHelp));
}

TEST_F(E2EFailure, UnhandledFailuresEndWithTheReport) {
  ExpectRun({"-e", "key", "in.dat", "x.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
  std::string text = ReadFile(dir / "dat#x.tvx");
  std::string bad_field = text, far_position = text;
  bad_field.replace(51 + 8 * 500 + 5, 2, "G1");  // entry 501's value
  far_position.replace(51 + 8 * 9, 4, "1001");  // entry 10: position 4097 of a 4096-byte key
  WriteFile(dir / "bad.tvx", bad_field);
  WriteFile(dir / "esc.tvx", std::string(text).replace(51 + 8 * 500 + 5, 2, std::string("\x1B\0", 2)));
  WriteFile(dir / "far.tvx", far_position);
  struct Case {
    std::vector<std::string> args;
    std::string report;
    std::string out_start;
  } cases[] = {
      {{"-d", "key", "bad.tvx", "o"}, "ConversionError: \"$G1\" is an invalid integer",
       KeyLine(4096) + "\n" + kScale + "\n" + std::string(32, '*')},
      {{"-d", "key", "esc.tvx", "o"}, "ConversionError: \"$\\x1B\\x00\" is an invalid integer",
       KeyLine(4096) + "\n" + kScale + "\n" + std::string(32, '*')},
      {{"-d", "key", "far.tvx", "o"}, "RangeError: Key position 4097 lies beyond the key length 4096",
       KeyLine(4096) + "\n" + kScale + "\n"},
  };
  for (const Case& c : cases) {
    const ToolResult result = Run(c.args);
    EXPECT_EQ(result.status, 217);
    EXPECT_EQ(result.out, Lines(c.out_start));
    EXPECT_TRUE(IsFailureReport(result.err, c.report)) << result.err;
  }
  EXPECT_EQ(NewFiles(), (std::vector<std::string>{"bad.tvx", "dat#x.tvx", "esc.tvx", "far.tvx"}));
}

TEST_F(E2EFailure, UnreadableAndReadOnlyFilesAsAnUnprivilegedUser) {
  if (TestingWindowsBuild()) GTEST_SKIP() << "permission bits are a POSIX test";
  WriteFile(dir / "locked.dat", "secret");
  ::chmod((dir / "locked.dat").c_str(), 0);
  WriteFile(dir / "dat#ro.tvx", "keep");
  ::chmod((dir / "dat#ro.tvx").c_str(), 0444);
  ToolOptions nobody;
  nobody.as_nobody = true;
  const ToolResult locked = RunTool(dir.path, {"-e", "key", "locked.dat", "o.tvx"}, nobody);
  EXPECT_EQ(locked.status, 217);
  EXPECT_EQ(locked.out, Lines(KeyLine(4096)));
  EXPECT_TRUE(IsFailureReport(locked.err, "FileError: Unable to open file \"locked.dat\"")) << locked.err;
  const ToolResult read_only = RunTool(dir.path, {"-e", "key", "in.dat", "ro.tvx"}, nobody);
  EXPECT_EQ(read_only.status, 0);
  EXPECT_EQ(read_only.out, Lines(KeyLine(4096) + Error("Cannot write to OUTPUTFILE: ro.tvx")));
  EXPECT_TRUE(SameBytes(ReadFile(dir / "dat#ro.tvx"), "keep"));
}

TEST_F(E2EFlow, WhateverStandsAtTheOutputPathIsReplacedByAFile) {
  if (TestingWindowsBuild()) GTEST_SKIP() << "links, FIFOs, owners and umasks are POSIX";
  if (::geteuid() != 0) GTEST_SKIP() << "files of other users, and runs as nobody beside them, need root";
  ExpectRun({"-e", "key", "in.dat", "x.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
  const std::string folder = dir / "f", output = folder + "/o.dat";
  WriteFile(dir / "target", "keep");
  ::chmod((dir / "target").c_str(), 0666);
  const passwd* nobody_entry = ::getpwnam("nobody");
  const uid_t nobody = nobody_entry ? nobody_entry->pw_uid : 65534;
  const gid_t nogroup = nobody_entry ? nobody_entry->pw_gid : 65534;
  const gid_t staff = ::getgrnam("staff") ? ::getgrnam("staff")->gr_gid : 50;
  const uid_t third = 1;  // neither root nor nobody
  auto old_file = [&](mode_t mode, uid_t owner, gid_t group = 0, std::string content = "old") {
    return [=] {
      WriteFile(output, content);
      ::chown(output.c_str(), owner, group);
      ::chmod(output.c_str(), mode);  // after chown, which drops set-user-ID
    };
  };
  auto acl = [](const std::string& options, const std::string& path) {
    return [=] { EXPECT_EQ(std::system(("setfacl " + options + " '" + path + "'").c_str()), 0); };
  };
  auto both = [](std::function<void()> first, std::function<void()> second) {
    return [=] { first(); second(); };
  };
  auto nobody_folder = [&] { ::chown(folder.c_str(), nobody, nogroup); };
  // A default ACL of the folder, made from its mode 0755.
  auto default_acl = both([&] { ::chmod(folder.c_str(), 0755); }, acl("-d -m u:1:rwx", folder));
  const std::string refused = KeyLine(4096) + Error("Cannot write to OUTPUTFILE: f/o");
  const std::string written = KeyLine(4096) + Bar(63, "Decryption");
  struct Case {
    std::string what;
    std::function<void()> make;
    mode_t folder_mode;
    bool as_nobody;
    const char* umask;
    std::string out;
    mode_t mode;  // of what stands at the output path afterwards, type included
    std::vector<std::string> names;  // in the folder afterwards
    uid_t uid = 0;                   // its owner and group afterwards
    gid_t gid = 0;
    std::string kept = "";           // the old content, where it stays
    std::string acl = "";            // what getfacl shows of it, where that matters
    bool append_only = false;        // the folder's flag
    bool no_proc = false;            // run where /proc is not mounted
  } cases[] = {
      // The link's target would hand on 0666 to the secret.
      {"link to /dev/null", [&] { ::symlink("/dev/null", output.c_str()); }, 0777, false, "077",
       written, S_IFREG | 0600, {"o.dat"}},
      {"dangling link", [&] { ::symlink("nowhere", output.c_str()); }, 0777, false, "022", written,
       S_IFREG | 0644, {"o.dat"}},
      {"link to a file", [&] { ::symlink("../target", output.c_str()); }, 0777, false, "022",
       written, S_IFREG | 0644, {"o.dat"}},
      // Replaced under its own name only: the other name keeps the old file.
      // Its access is not handed on: it counts as new, narrowed to the old.
      {"hard link", [&] { old_file(0640, 0)(); ::link(output.c_str(), (folder + "/other").c_str()); },
       0755, false, "077", written, S_IFREG | 0600, {"o.dat", "other"}},
      {"FIFO", [&] { ::mkfifo(output.c_str(), 0666); }, 0777, false, "022", written, S_IFREG | 0644,
       {"o.dat"}},
      // Another user's file hands on nothing: the new file is root's, as a
      // new one would be, and grants no class more than the old one did.
      {"4755 file of nobody", old_file(04755, nobody), 0777, false, "022", written, S_IFREG | 0644,
       {"o.dat"}},
      {"a third user's 0600 file", old_file(0600, third), 0755, false, "022", written, S_IFREG | 0600,
       {"o.dat"}},
      // chmod 600 leaves group::r-- in its ACL, masked to nothing.
      {"a third user's file whose ACL mask chmod 600 cleared",
       both(both(old_file(0640, third), acl("-m u:1:r", output)), [&] { ::chmod(output.c_str(), 0600); }),
       0755, false, "022", written, S_IFREG | 0600, {"o.dat"}},
      // Put there by someone else, whose mode and group would reach the
      // secret.
      {"a third user's 0666 file of staff in a sticky folder", old_file(0666, third, staff), 01777,
       false, "077", written, S_IFREG | 0600, {"o.dat"}},
      {"a third user's 0666 file of staff in a 0777 folder", old_file(0666, third, staff), 0777, true,
       "077", written, S_IFREG | 0600, {"o.dat"}, nobody, nogroup},
      // Ours, but others may have moved it there: the mode counts as new.
      {"our 0640 file in a group-writable folder", old_file(0640, 0), 0770, false, "077", written,
       S_IFREG | 0600, {"o.dat"}},
      // Our own file's ACL travels whole: its owning group stays out.
      {"our 0600 file with an ACL for a third user", both(old_file(0600, 0), acl("-m u:1:r", output)),
       0755, false, "022", written, S_IFREG | 0640, {"o.dat"}, 0, 0, "",
       "user::rw-\nuser:1:r--\ngroup::---\nmask::r--\nother::---\n\n"},
      {"our file with an ACL, without /proc", both(old_file(0600, 0), acl("-m u:1:r", output)), 0755,
       false, "022", written, S_IFREG | 0640, {"o.dat"}, 0, 0, "",
       "user::rw-\nuser:1:r--\ngroup::---\nmask::r--\nother::---\n\n", false, true},
      // Not once it has another name: what it shared goes.
      {"our file with an ACL and another name",
       both(both(old_file(0600, 0), acl("-m u:1:rw", output)), [&] { ::link(output.c_str(), (dir / "elsewhere").c_str()); }),
       0755, false, "022", written, S_IFREG | 0600, {"o.dat"}, 0, 0, "", "user::rw-\ngroup::---\nother::---\n\n"},
      // A default ACL that the old file did not have is not inherited.
      {"our 0640 file in a folder with a default ACL", both(old_file(0640, 0), default_acl), 0755,
       false, "022", written, S_IFREG | 0640, {"o.dat"}, 0, 0, "",
       "user::rw-\ngroup::r--\nother::---\n\n"},
      // Where nothing stands: the default ACL limited by 0666, whatever the
      // umask, as for any new file.
      {"nothing in a folder with a default ACL", default_acl, 0777, false, "077", written,
       S_IFREG | 0664, {"o.dat"}, 0, 0, "",
       "user::rw-\nuser:1:rwx\ngroup::r-x\nmask::rw-\nother::r--\n\n"},
      {"nothing, without /proc", [] {}, 0777, false, "022", written, S_IFREG | 0644, {"o.dat"},
       0, 0, "", "", false, true},
      // Inherited, the named user gets no more than others got of the old.
      {"a third user's 0640 file in a folder with a default ACL", both(old_file(0640, third), default_acl),
       0755, false, "077", written, S_IFREG | 0640, {"o.dat"}, 0, 0, "",
       "user::rw-\nuser:1:---\ngroup::r--\nmask::r--\nother::---\n\n"},
      // No file can be made beside it, or renamed over it: written in place,
      // where it is the user's alone.
      {"0666 file in a 555 folder", old_file(0666, 0), 0555, true, "022", written, S_IFREG | 0666,
       {"o.dat"}},
      {"0666 file with another name in a 555 folder",
       [&] { old_file(0666, 0)(); ::link(output.c_str(), (dir / "elsewhere").c_str()); }, 0555, true,
       "022", refused, S_IFREG | 0666, {"o.dat"}, 0, 0, "old"},
      // Anyone may have put, linked or moved it into /tmp.
      {"root's 0666 file in a sticky folder", old_file(0666, 0), 01777, true, "022", refused,
       S_IFREG | 0666, {"o.dat"}, 0, 0, "old"},
      // Neither replaced nor written through.
      {"link in a 555 folder", [&] { ::symlink("../target", output.c_str()); }, 0555, true, "022",
       KeyLine(4096) + Error("Cannot write to OUTPUTFILE: f/o"), S_IFLNK | 0777, {"o.dat"}},
      // Another user's file in a sticky folder is theirs: never written.
      {"a third user's empty 0666 file in a sticky folder", old_file(0666, third, 0, ""), 01777, true,
       "022", refused, S_IFREG | 0666, {"o.dat"}, third, 0, ""},
      // Not even the folder owner's: it may have been put there for us.
      {"a third user's 0666 file in a sticky folder of theirs",
       both(old_file(0666, third, 0, ""), [&] { ::chown(folder.c_str(), third, 0); }), 01777, true,
       "022", refused, S_IFREG | 0666, {"o.dat"}, third, 0, ""},
      // Neither a probe file nor a temporary one could go again.
      {"our file in an append-only folder", old_file(0644, 0), 0777, false, "022", refused,
       S_IFREG | 0644, {"o.dat"}, 0, 0, "old", "", true},
      // The permission bits were given for the file's group: they stay
      // with it, or the group loses them.
      {"0640 file of group staff", old_file(0640, 0, staff), 0755, false, "022", written,
       S_IFREG | 0640, {"o.dat"}, 0, staff},
      {"0640 file of a group not ours", both(old_file(0640, nobody, staff), nobody_folder), 0755, true,
       "022", written, S_IFREG | 0600, {"o.dat"}, nobody, nogroup},
      {"0640 file in a set-group-ID folder of staff",
       [&] { old_file(0640, nobody, nogroup)(); ::chown(folder.c_str(), nobody, staff); }, 02755, true,
       "022", written, S_IFREG | 0640, {"o.dat"}, nobody, nogroup},
  };
  std::string skipped;
  for (const Case& c : cases) {
    std::filesystem::create_directory(folder);
    c.make();
    ::chmod(folder.c_str(), c.folder_mode);
    if (c.append_only && !SetAppendOnly(folder, true)) {
      skipped += c.what + ": the append-only flag was refused here (" + std::strerror(errno) + "). ";
      std::filesystem::remove_all(folder);
      continue;
    }
    ToolOptions options;
    options.as_nobody = c.as_nobody;
    options.prefix = {"/bin/sh", "-c", std::string("umask ") + c.umask + "; exec \"$@\"", "sh"};
    // A sanitizer's run time, or an emulator, needs /proc itself.
    if (c.no_proc && (kSanitized || TestingUnderEmulator())) {
      skipped += c.what + ": a sanitizer or emulator needs /proc. ";
      std::filesystem::remove_all(folder);
      continue;
    }
    if (c.no_proc) options.prefix.insert(options.prefix.begin(), {"/usr/bin/unshare", "-m", "/bin/sh", "-c", "umount -l /proc && exec \"$@\"", "sh"});
    const ToolResult result = Run({"-d", "key", "dat#x.tvx", "f/o"}, options);
    EXPECT_EQ(result.out, Lines(c.out)) << c.what;
    EXPECT_EQ(result.err, "") << c.what;
    EXPECT_EQ(result.status, 0) << c.what;
    struct stat st {};
    EXPECT_EQ(::lstat(output.c_str(), &st), 0) << c.what;
    EXPECT_EQ(st.st_mode, c.mode) << c.what;
    EXPECT_EQ(st.st_uid, c.uid) << c.what;
    EXPECT_EQ(st.st_gid, c.gid) << c.what;
    if (!c.acl.empty()) {
      EXPECT_EQ(AclOf(output), c.acl) << c.what;
    }
    if (S_ISREG(c.mode) && S_ISREG(st.st_mode)) {  // a FIFO left there would never end
      const bool refused = c.out.find("Cannot write") != std::string::npos;
      EXPECT_TRUE(SameBytes(ReadFile(output), refused ? c.kept : ReadFile(dir / "in.dat"))) << c.what;
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names) << c.what;
    // What another name of the old file shows stays as it was.
    for (const std::string& other : {folder + "/other", dir / "elsewhere"}) {
      if (PathExists(other)) {
        EXPECT_TRUE(SameBytes(ReadFile(other), "old")) << c.what;
      }
    }
    std::filesystem::remove(dir / "elsewhere");
    if (c.append_only) SetAppendOnly(folder, false);
    ::chmod(folder.c_str(), 0777);
    std::filesystem::remove_all(folder);
  }
  EXPECT_TRUE(SameBytes(ReadFile(dir / "target"), "keep"));
  struct stat null_device {};
  EXPECT_TRUE(::stat("/dev/null", &null_device) == 0 && S_ISCHR(null_device.st_mode));
  EXPECT_EQ(NewFiles(), (std::vector<std::string>{"dat#x.tvx", "target"}));
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST_F(E2EFailure, AFailedWriteComesAfterTheSuccessLineAndLeavesTheOldOutput) {
  if (TestingWindowsBuild()) GTEST_SKIP() << "file size limits are a POSIX test";
  // A text of several chunks, so that a write can fail part of the way.
  WriteFile(dir / "big.dat", RandomBytes(700000, 6));
  ExpectRun({"-e", "key", "big.dat", "big.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
  struct Case {
    std::vector<std::string> args;
    std::string output;
    std::int64_t limit;
    std::string bar;
  } cases[] = {
      {{"-e", "key", "in.dat", "out.tvx"}, "dat#out.tvx", 0, Bar(64, "Encryption")},
      {{"-e", "key", "big.dat", "out.tvx"}, "dat#out.tvx", 4096, Bar(64, "Encryption")},
      {{"-e", "key", "big.dat", "out.tvx"}, "dat#out.tvx", 3 << 20, Bar(64, "Encryption")},
      {{"-d", "key", "dat#big.tvx", "back"}, "back.dat", 0, Bar(63, "Decryption")},
      {{"-d", "key", "dat#big.tvx", "back"}, "back.dat", 300000, Bar(63, "Decryption")},
  };
  for (const Case& c : cases) {
    WriteFile(dir / c.output, "old");
    ToolOptions limited;
    limited.file_size_limit = c.limit;
    const ToolResult result = Run(c.args, limited);
    EXPECT_EQ(result.status, 217) << c.limit;
    EXPECT_EQ(result.out, Lines(KeyLine(4096) + c.bar)) << c.limit;
    EXPECT_TRUE(IsFailureReport(result.err, "FileError: Stream write error")) << result.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / c.output), "old"));
    std::vector<std::string> expected = {"big.dat", "dat#big.tvx", c.output};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NewFiles(), expected);
    std::filesystem::remove(dir / c.output);
  }
}

TEST_F(E2EFailure, ADecodingErrorWinsOverAnEarlierFailedWrite) {
  if (TestingWindowsBuild()) GTEST_SKIP() << "file size limits are a POSIX test";
  WriteFile(dir / "big.dat", RandomBytes(700000, 6));
  ExpectRun({"-e", "key", "big.dat", "big.tvx"}, KeyLine(4096) + Bar(64, "Encryption"));
  std::string text = ReadFile(dir / "dat#big.tvx");
  const std::size_t bad_entry = 600000;  // 1-based, far past the failed write
  text.replace(51 + 8 * (bad_entry - 1) + 5, 2, "Z9");
  WriteFile(dir / "bad.tvx", text);
  ToolOptions limited;
  limited.file_size_limit = 1000;
  const ToolResult result = Run({"-d", "key", "bad.tvx", "back"}, limited);
  EXPECT_EQ(result.status, 217);
  // The stars of the entries before the bad one, and no success line.
  const std::size_t stars = 64 * (52 + 8 * (bad_entry - 1)) / text.size();
  EXPECT_EQ(result.out, Lines(KeyLine(4096) + "\n" + kScale + "\n" + std::string(stars, '*')));
  EXPECT_TRUE(IsFailureReport(result.err, "ConversionError: \"$Z9\" is an invalid integer")) << result.err;
  EXPECT_EQ(NewFiles(), (std::vector<std::string>{"bad.tvx", "big.dat", "dat#big.tvx"}));
}

TEST_F(E2EMemory, TextsPassThroughAFewChunksOfMemory) {
  // The 512 MiB text of a 64 MiB input passes through 256 MiB of address
  // space, threads and all.
  const std::string source = RandomBytes(64 << 20, 9);
  WriteFile(dir / "big.dat", source);
  ToolOptions limited;
  limited.memory_limit = std::int64_t{256} << 20;
  const ToolResult encrypted = RunTool(dir.path, {"-e", "key", "big.dat", "big.tvx"}, limited);
  EXPECT_EQ(encrypted.out, Lines(KeyLine(4096) + Bar(64, "Encryption")));
  EXPECT_EQ(encrypted.status, 0) << encrypted.err;
  EXPECT_EQ(std::filesystem::file_size(dir / "dat#big.tvx"), 58u + 8 * source.size());
  const ToolResult decrypted = RunTool(dir.path, {"-d", "key", "dat#big.tvx", "back"}, limited);
  EXPECT_EQ(decrypted.out, Lines(KeyLine(4096) + Bar(63, "Decryption")));
  EXPECT_EQ(decrypted.status, 0) << decrypted.err;
  EXPECT_TRUE(SameBytes(ReadFile(dir / "back.dat"), source));
}

TEST_F(E2EMemory, AKeyCostsOnlyWhatIsLookedUp) {
  // A sparse 1 GB key, mapped: its zeros are never the tool's own memory,
  // which 256 MiB bound. One that cannot be mapped, in 256 MiB of address
  // space, is read whole and exhausts it.
  ASSERT_EQ(::truncate((dir / "key").c_str(), 1000000000), 0);
  const std::int64_t limit = std::int64_t{256} << 20;
  struct Case {
    bool address_space;  // else private memory only
    std::vector<std::string> args;
    std::string out;
    int status;
  } cases[] = {
      {false, {"-e", "key", "in.dat", "o.tvx"}, KeyLine(1000000000) + Bar(64, "Encryption"), 0},
      {false, {"-t", "key", "dat#o.tvx"},
       KeyLine(1000000000) + Line("File: dat#o.tvx is a valid 'Talvex Encryption' file!") + "\n\n", 0},
      {false, {"-d", "key", "dat#o.tvx", "back"}, KeyLine(1000000000) + Bar(63, "Decryption"), 0},
      {true, {"-e", "key", "in.dat", "big.tvx"}, "", 217},
  };
  for (const Case& c : cases) {
    ToolOptions limited;
    (c.address_space ? limited.memory_limit : limited.data_limit) = limit;
    const ToolResult result = RunTool(dir.path, c.args, limited);
    EXPECT_EQ(result.out, Lines(c.out)) << result.err;
    EXPECT_EQ(result.status, c.status);
    if (c.status == 217) {
      EXPECT_TRUE(IsFailureReport(result.err, "OutOfMemory: Out of memory")) << result.err;
    }
  }
  EXPECT_TRUE(SameBytes(ReadFile(dir / "back.dat"), ReadFile(dir / "in.dat")));
  EXPECT_EQ(NewFiles(), (std::vector<std::string>{"back.dat", "dat#o.tvx"}));
}
