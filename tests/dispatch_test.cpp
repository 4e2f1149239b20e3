// Routing decisions for every kind of command line.
#include <gtest/gtest.h>

#include "cli/dispatch.h"

TEST(Routing, DecisionTable) {
  using Path = Routing::Path;
  struct Case {
    std::vector<std::string> args;
    bool help, info;
    Path path;
  } cases[] = {
      {{}, true, false, Path::kNone},
      {{"-t", "k"}, true, false, Path::kNone},
      {{"-t", "k", "i", "o", "x"}, true, false, Path::kNone},
      {{"-x"}, true, false, Path::kNone},
      {{"-T", "k", "i"}, true, false, Path::kNone},
      {{"-e"}, false, false, Path::kNone},
      {{"x-hx"}, true, false, Path::kNone},
      {{"--help", "k", "i", "o"}, true, false, Path::kNone},
      {{"-i-h", "k", "i"}, true, true, Path::kNone},
      {{"-i", "k", "i", "o"}, false, true, Path::kNone},
      {{"-e", "k", "i"}, false, false, Path::kUsage},
      {{"x-d", "k", "i"}, false, false, Path::kUsage},
      {{"-t", "k", "i"}, false, false, Path::kTest},
      {{"x-t", "k", "i"}, false, false, Path::kTest},
      {{"-t", "k", "i", "o"}, false, false, Path::kTest},
      {{"-tx", "k", "i", "o"}, false, false, Path::kEncryptOrDecrypt},
      {{"-e", "k", "i", "o"}, false, false, Path::kEncryptOrDecrypt},
      {{"-eh", "k", "i", "o"}, false, false, Path::kEncryptOrDecrypt},
      {{"-d", "k", "i", "o"}, false, false, Path::kEncryptOrDecrypt},
  };
  for (const Case& c : cases) {
    const Routing routing = RouteCommandLine(c.args);
    EXPECT_EQ(routing.help, c.help) << ::testing::PrintToString(c.args);
    EXPECT_EQ(routing.info, c.info) << ::testing::PrintToString(c.args);
    EXPECT_EQ(routing.path, c.path) << ::testing::PrintToString(c.args);
  }
}
