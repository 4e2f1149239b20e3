// Key sizes and modes, and whole files byte for byte.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "cipher_cases.h"
#include "keyio/files.h"
#include "keyio/key.h"
#include "tool_runner.h"

TEST(Key, ModeThresholdsAndSizeLine) {
  const std::pair<std::int64_t, std::int32_t> cases[] = {
      {100, 8}, {255, 8}, {256, 16}, {65535, 16}, {65536, 32}, {1000000000, 32}};
  for (const auto& [length, mode] : cases) EXPECT_EQ(ModeForKeyLength(length), mode) << length;
  EXPECT_EQ(KeySizeLine(4096), "KEYFILE SIZE: 4096 bytes -> 16 bit encryption");
  EXPECT_EQ(KeySizeLine(100), "KEYFILE SIZE: 100 bytes -> 8 bit encryption");
  EXPECT_EQ(KeySizeLine(1000000000), "KEYFILE SIZE: 1000000000 bytes -> 32 bit encryption");
}

// Writes content through an output at path, in pieces of at most piece
// bytes, and completes it.
void WriteThrough(const std::string& path, const std::string& content, std::size_t piece = 1 << 20) {
  OutputFile out;
  CreateOutput(out, path);
  for (std::size_t at = 0; at < content.size(); at += piece) {
    const std::size_t n = std::min(piece, content.size() - at);
    WriteOutput(out, reinterpret_cast<const std::uint8_t*>(content.data() + at), static_cast<std::int64_t>(n));
  }
  FinishOutput(out);
}


TEST(Files, WholeFilesByteForByte) {
  TempDir dir;
  const std::string path = dir / "f";
  for (const std::string& content : {std::string(), std::string("\x00\x0D\x0A\x1A", 4),
                                     RandomBytes(3 << 20, 1)}) {
    WriteThrough(path, content, 4096);
    EXPECT_TRUE(SameBytes(ReadFile(path), content));
    ASSERT_TRUE(HoldKeyWithin(path, 0, 4 << 20));
    EXPECT_TRUE(SameBytes(std::string(KeyBytes.begin(), KeyBytes.end()), content));
  }
  // Replacing: a longer old file leaves nothing of itself behind.
  WriteFile(path, std::string(1000, 'x'));
  WriteThrough(path, "0123456789");
  EXPECT_TRUE(SameBytes(ReadFile(path), "0123456789"));
  WriteThrough(path, "");
  EXPECT_TRUE(SameBytes(ReadFile(path), ""));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
}

TEST(Files, AnUncompletedOutputLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir / "f";
  WriteFile(path, "old");
  {
    // Without a name while written, where the file system makes such files.
    const int unnamed = ::open(dir.path.c_str(), O_TMPFILE | O_WRONLY, 0600);
    OutputFile out;
    CreateOutput(out, path);
    WriteOutput(out, reinterpret_cast<const std::uint8_t*>("new"), 3);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), unnamed >= 0 ? 1 : 2);
    if (unnamed >= 0) ::close(unnamed);
  }
  EXPECT_TRUE(SameBytes(ReadFile(path), "old"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
  // One that cannot be created fails only when completed, naming the path.
  OutputFile nowhere;
  CreateOutput(nowhere, dir / "no/such/f");
  EXPECT_TRUE(nowhere.Failed());
  WriteOutput(nowhere, reinterpret_cast<const std::uint8_t*>("x"), 1);
  EXPECT_EQ(FailureOf([&] { FinishOutput(nowhere); }),
            "FileError: Unable to create file \"" + (dir / "no/such/f") + "\"");
  // Written in place only as the user's alone, whatever the path was found
  // holding before: never another user's file, not even the folder
  // owner's, nor one with another name, nor one in a folder that someone
  // else owns or may write.
  if (::geteuid() != 0) GTEST_SKIP() << "giving the file and its folder to other users needs root";
  const uid_t me = ::geteuid();
  struct Owners {
    uid_t file, folder;
    mode_t folder_mode;
    bool second_name, opened;
  } owners[] = {{1, 0, 0755, false, false}, {1, 1, 0755, false, false}, {me, 1, 0777, false, false},
                {me, 1, 0755, false, false}, {me, 0, 0777, false, false}, {me, 0, 0755, true, false},
                {me, 0, 0755, false, true}};
  for (const Owners& o : owners) {
    ASSERT_EQ(::chown(dir.path.c_str(), o.folder, 0), 0);
    ASSERT_EQ(::chmod(dir.path.c_str(), o.folder_mode), 0);
    ASSERT_EQ(::chown(path.c_str(), o.file, 0), 0);
    if (o.second_name) {
      ASSERT_EQ(::link(path.c_str(), (dir / "other").c_str()), 0);
    }
    const platform::FileHandle file = platform::OpenInPlace(path);
    EXPECT_EQ(file != platform::kNoFile, o.opened) << o.file << " " << o.folder;
    EXPECT_EQ(ReadFile(path).size(), o.opened ? 0u : 3u) << o.file << " " << o.folder;
    if (file != platform::kNoFile) platform::CloseFile(file);
    std::filesystem::remove(dir / "other");
  }
}

TEST(Files, InputsReadInPiecesAndRefuseToShrink) {
  TempDir dir;
  const std::string content = RandomBytes(100000, 3);
  WriteFile(dir / "in", content);
  InputFile in;
  OpenInput(in, dir / "in");
  EXPECT_EQ(in.size, 100000);
  std::string back;
  std::uint8_t buffer[7777];
  for (std::int64_t n; (n = ReadInput(in, buffer, sizeof buffer)) > 0;) {
    back.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
  }
  EXPECT_TRUE(SameBytes(back, content));
  // A file cut short while it is read is an error, not a short content.
  InputFile cut;
  OpenInput(cut, dir / "in");
  ReadInput(cut, buffer, 10);
  ASSERT_EQ(::truncate((dir / "in").c_str(), 50), 0);
  EXPECT_EQ(FailureOf([&] { ReadInput(cut, buffer, sizeof buffer); }),
            "FileError: Unable to read file \"" + (dir / "in") + "\"");
  EXPECT_EQ(FailureOf([&] { OpenInput(cut, dir / "none"); }),
            "FileError: Unable to open file \"" + (dir / "none") + "\"");
}

TEST(Files, PipesAreReadToTheirEnd) {
  TempDir dir;
  std::mt19937_64 random(31);
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::size_t size;
    std::int64_t min, max;
    bool accepted;
  } cases[] = {{0, 0, 10, true}, {99, 100, 200, false}, {100, 100, 200, true},
               {200, 100, 200, true}, {201, 100, 200, false}, {(5 << 20) + 3, 0, 6 << 20, true}};
  for (const Case& c : cases) {
    const std::string content = RandomBytes(c.size, static_cast<std::uint32_t>(c.size));
    // The key of the last round lets go of the FIFO first: a writer that
    // found it still open would write into a pipe about to be dropped.
    ReleaseKey();
    // The writer may be cut off once the reader has seen too much.
    std::thread writer([&] {
      std::signal(SIGPIPE, SIG_IGN);
      const int fd = ::open(fifo.c_str(), O_WRONLY);
      for (std::size_t at = 0; at < content.size();) {
        const ssize_t n = ::write(fd, content.data() + at, std::min<std::size_t>(65536, content.size() - at));
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
      ::close(fd);
    });
    EXPECT_EQ(HoldKeyWithin(fifo, c.min, c.max), c.accepted) << c.size;
    writer.join();
    EXPECT_TRUE(SameBytes(std::string(KeyBytes.begin(), KeyBytes.end()), c.accepted ? content : "")) << c.size;
    if (!c.accepted || c.size < 100) continue;
    // The same key as a file is mapped: the same text for the same seed.
    const ByteString source = RandomString(random, 3000);
    const Outcome read = EncryptWith(CipherLoops::kFastest, ByteString(KeyBytes.begin(), KeyBytes.end()), source, 7);
    WriteFile(dir / "key", content);
    ASSERT_TRUE(HoldKeyWithin(dir / "key", c.min, c.max));
    EXPECT_EQ(EncryptWith(CipherLoops::kFastest, ByteString(KeyBytes.begin(), KeyBytes.end()), source, 7), read);
  }
  ReleaseKey();
}

// That nothing of a refused key is read first, E2ERouting.KeySizeLimits traces.
TEST(Files, SizeLimitsHoldBothEndsAndARefusedKeyHoldsNothing) {
  TempDir dir;
  WriteFile(dir / "k", std::string(99, 'k'));
  EXPECT_FALSE(HoldKeyWithin(dir / "k", 100, 200));
  EXPECT_TRUE(KeyBytes.empty());
  EXPECT_TRUE(HoldKeyWithin(dir / "k", 99, 99));
  EXPECT_EQ(KeyBytes.size(), 99u);
  ReleaseKey();
}
