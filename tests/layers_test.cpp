// The folders of src/ include one way, top to bottom, and no unit (a .cpp
// with its header) reaches itself again through what it includes: the
// folders give an order to read and change the code in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// What each folder may include besides itself.
const std::map<std::string, std::set<std::string>> kMayInclude = {
    {"main.cpp", {"cli", "cipher", "keyio", "core", "platform"}},
    {"cli", {"cipher", "keyio", "core", "platform"}},
    {"cipher", {"keyio", "core", "platform"}},
    {"keyio", {"core", "platform"}},
    {"core", {"platform"}},
    {"platform", {}},
};

// The unit of a file: its path without the extension, and for a platform's
// variant (files_linux.cpp) without the platform (files).
std::string UnitOf(const std::string& file) {
  static const std::regex variant("_(posix|linux|win32)$");
  return std::regex_replace(file.substr(0, file.rfind('.')), variant, "");
}

}  // namespace

TEST(Layers, IncludesRunOneWayWithoutCircles) {
  const std::filesystem::path src = TALVEX_SOURCE_DIR "/src";
  const std::regex include(R"re(^\s*#\s*include\s+"([^"]+)")re");
  std::map<std::string, std::set<std::string>> includes;  // unit -> the units it includes
  for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
    if (!entry.is_regular_file()) continue;
    const std::string file = entry.path().lexically_relative(src).generic_string();
    const std::string folder = file.substr(0, file.find('/'));
    ASSERT_TRUE(kMayInclude.count(folder)) << file << " is in no folder of the layers";
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) {
      std::smatch match;
      if (!std::regex_search(line, match, include)) continue;
      const std::string target = match[1], to = target.substr(0, target.find('/'));
      EXPECT_TRUE(to == folder || kMayInclude.at(folder).count(to)) << file << " includes " << target;
      if (UnitOf(target) != UnitOf(file)) includes[UnitOf(file)].insert(UnitOf(target));
    }
  }
  // A walk that meets a unit still on its own path has found a circle.
  std::map<std::string, int> state;  // 1 while on the path, 2 once done
  std::vector<std::string> path;
  std::function<void(const std::string&)> visit = [&](const std::string& unit) {
    state[unit] = 1;
    path.push_back(unit);
    for (const std::string& next : includes[unit]) {
      if (state[next] == 1) {
        std::string circle;
        for (auto at = std::find(path.begin(), path.end(), next); at != path.end(); ++at) circle += *at + " -> ";
        ADD_FAILURE() << "a circle of includes: " << circle << next;
      } else if (state[next] == 0) {
        visit(next);
      }
    }
    path.pop_back();
    state[unit] = 2;
  };
  for (const auto& entry : includes) {
    if (state[entry.first] == 0) visit(entry.first);
  }
}
