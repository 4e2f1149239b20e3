// What the end-to-end tests share: the texts the tool shows, the failure
// report's shape, and a folder with a key and an input to run it in.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tool_runner.h"

inline const std::string kScale = "0%....10....20....30....40....50....60....70....80....90....100%";

inline std::string Error(const std::string& message) {
  return "\n--> ERROR! <--\n\n" + message + "\n\n\n";
}
inline std::string Line(const std::string& message) { return "\n" + message + "\n"; }
inline std::string KeyLine(std::size_t size) {
  const int mode = size < 256 ? 8 : size < 65536 ? 16 : 32;
  return Line("KEYFILE SIZE: " + std::to_string(size) + " bytes -> " + std::to_string(mode) +
              " bit encryption");
}
inline std::string Bar(std::size_t stars, const std::string& word) {
  return "\n" + kScale + "\n" + std::string(stars, '*') + "\n\nTalvex " + word +
         " was successful!\n";
}

// The failure report: the heading with an address, the kind and message,
// the call chain, an empty line.
inline bool IsFailureReport(const std::string& err, const std::string& kind_and_message) {
  const std::string eol = Lines("\n");
  const std::string address = "\\$[0-9A-F]{8,16}";
  std::string pattern = "An unhandled exception occurred at " + address + ":" + eol;
  pattern += std::regex_replace(kind_and_message, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  pattern += eol + "(  " + address + eol + ")*" + eol;
  return std::regex_match(err, std::regex(pattern));
}

struct E2E : ::testing::Test {
  TempDir dir;
  std::string key = RandomBytes(4096, 1);
  void SetUp() override {
    WriteFile(dir / "key", key);
    WriteFile(dir / "in.dat", RandomBytes(1000, 2));
  }
  ToolResult Run(const std::vector<std::string>& args, const ToolOptions& options = {}) {
    return RunTool(dir.path, args, options);
  }
  void ExpectRun(const std::vector<std::string>& args, const std::string& out) {
    const ToolResult result = Run(args);
    EXPECT_EQ(result.out, Lines(out)) << ::testing::PrintToString(args);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  // Files in the directory other than the ones SetUp made.
  std::vector<std::string> NewFiles() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
      const std::string name = entry.path().filename().string();
      if (name != "key" && name != "in.dat") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};
