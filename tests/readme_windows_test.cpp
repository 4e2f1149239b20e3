// The Windows readme's examples, run against the Windows build under wine as
// a user would type them. README.txt (beside talvex.exe, as the .zip ships
// it) shows each as a transcript: a PowerShell line after "PS C:\work> " or
// a cmd line after "C:\work>", then what it prints. PowerShell lines are
// read as PowerShell passes their arguments; cmd lines go through wine's
// cmd. There is no PowerShell here: its key recipe is checked for its
// guard, and the cmd recipe, which calls PowerShell, finds a stand-in
// powershell.bat first that records its arguments and writes a key.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

struct Example {
  bool powershell = false;
  std::string command;  // the line after the prompt
  std::string shown;    // the lines under it, without their indent
};

// Text as the readme's comparisons see it: no CR, no blanks at line ends,
// no blank lines.
std::string Visible(const std::string& text) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.pop_back();
    }
    if (!line.empty()) out += line + "\n";
  }
  return out;
}

// The transcripts of the readme, in order. An example's output is the
// indented lines under its prompt, up to the next prompt or the next line
// of prose.
std::vector<Example> ReadExamples(const std::string& readme) {
  const std::string powershell_prompt = "  PS C:\\work> ";
  const std::string cmd_prompt = "  C:\\work>";
  std::vector<Example> examples;
  bool open = false;
  std::istringstream in(readme);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(powershell_prompt, 0) == 0) {
      examples.push_back({true, line.substr(powershell_prompt.size()), ""});
      open = true;
    } else if (line.rfind(cmd_prompt, 0) == 0) {
      examples.push_back({false, line.substr(cmd_prompt.size()), ""});
      open = true;
    } else if (open && line.rfind("  ", 0) == 0) {
      examples.back().shown += line.substr(2) + "\n";
    } else if (open && !line.empty()) {
      open = false;
    }
  }
  return examples;
}

// The arguments that PowerShell passes to a program for a line of bare
// words and single-quoted strings. Anything else fails the test, and so
// does a bare word that begins with #, which PowerShell takes for the start
// of a comment.
std::vector<std::string> PowerShellWords(const std::string& line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] == '#') ADD_FAILURE() << "PowerShell reads the rest of this line as a comment: " << line;
    while (i < line.size() && line[i] != ' ') {
      if (line[i] == '\'') {
        for (++i; i < line.size(); ++i) {
          if (line[i] == '\'' && (i + 1 >= line.size() || line[i + 1] != '\'')) break;
          if (line[i] == '\'') ++i;  // '' stands for '
          word += line[i];
        }
        EXPECT_LT(i, line.size()) << "an unclosed quote: " << line;
        ++i;
      } else if (std::string("\"$`(){};|&<>@,").find(line[i]) != std::string::npos) {
        ADD_FAILURE() << "this reading of PowerShell does not know '" << line[i] << "' in: " << line;
        ++i;
      } else {
        word += line[i++];
      }
    }
    words.push_back(word);
  }
  return words;
}

// Runs one cmd line as wine's cmd runs it, in dir; what it printed, the
// error stream included.
std::string RunCmd(const std::string& dir, const std::string& command) {
  WriteFile(dir + "/example.bat", "@" + command + "\r\n");
  const std::string line = "cd '" + dir + "' && /usr/bin/timeout -k 5 120 '" + Env("TALVEX_RUNNER") +
                           "' cmd /c example.bat 2>&1 </dev/null";
  std::string out;
  if (FILE* pipe = ::popen(line.c_str(), "r")) {
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << command << "\n" << out;
  } else {
    ADD_FAILURE() << "could not start cmd for: " << command;
  }
  std::remove((dir + "/example.bat").c_str());
  return out;
}

}  // namespace

TEST(E2EWindowsOnly, ReadmeExamplesRunAsShown) {
  if (!TestingWindowsBuild()) GTEST_SKIP() << "the Windows readme's examples need the Windows build";
  const std::string exe = Env("TALVEX_UNDER_TEST");
  const std::string readme_path = exe.substr(0, exe.find_last_of('/') + 1) + "README.txt";
  ASSERT_TRUE(PathExists(readme_path)) << "no " << readme_path << " beside the Windows build";
  const std::vector<Example> examples = ReadExamples(ReadFile(readme_path));

  // The PowerShell key recipe: a Test-Path guard, whose message it prints
  // when the key is there, before a write of 1,000,000 random bytes to the
  // key's full path as PowerShell's file system sees it (a UNC folder
  // included: $PWD itself may name its provider).
  const std::regex guarded(
      R"(if \(Test-Path key\.bin\) \{ '([^']+)' \} else \{ (\$k = New-Object byte\[\] 1000000; )"
      R"(\[Security\.Cryptography\.RandomNumberGenerator\]::Create\(\)\.GetBytes\(\$k\); )"
      R"(\[IO\.File\]::WriteAllBytes\(\(Join-Path \$PWD\.ProviderPath key\.bin\), \$k\)) \})");
  // The cmd key recipe: an if-exist guard with the same message, then the
  // same write through PowerShell.
  const std::regex cmd_guarded(
      R"re(if exist key\.bin \(echo ([^()]+)\) else powershell -NoProfile -Command "([^"%]+)")re");

  TempDir dir;
  const std::string photo = RandomBytes(300000, 31);
  const std::string made_key = RandomBytes(1000000, 32);
  WriteFile(dir / "photo.jpg", photo);
  WriteFile(dir / "talvex.exe", ReadFile(exe));
  WriteFile(dir / "made.bin", made_key);
  WriteFile(dir / "powershell.bat", "@>powershell.txt echo %*\r\n@copy /b made.bin key.bin >nul\r\n");

  std::string message, write_code, last_recipe;
  int powershell_recipes = 0, cmd_recipes = 0, tool_lines = 0;
  std::string words_run;
  for (const Example& example : examples) {
    SCOPED_TRACE((example.powershell ? "PS> " : "cmd> ") + example.command);
    std::smatch match;
    const std::string kind = example.powershell ? "powershell" : "cmd";
    const bool recipe = example.command.rfind("if ", 0) == 0;
    if (recipe && kind != last_recipe) {
      // Each recipe's transcript starts where no key stands.
      std::remove((dir / "key.bin").c_str());
      last_recipe = kind;
    }
    if (recipe && example.powershell) {
      ASSERT_TRUE(std::regex_match(example.command, match, guarded)) << "the recipe lacks its guard";
      message = match[1];
      write_code = match[2];
      // No PowerShell here: the key is written as the recipe would.
      const bool there = PathExists(dir / "key.bin");
      EXPECT_EQ(Visible(example.shown), there ? message + "\n" : "");
      if (!there) WriteFile(dir / "key.bin", made_key);
      ++powershell_recipes;
    } else if (recipe) {
      ASSERT_TRUE(std::regex_match(example.command, match, cmd_guarded)) << "the recipe lacks its guard";
      EXPECT_EQ(match[1], message) << "cmd's recipe says otherwise than PowerShell's";
      EXPECT_EQ(match[2], write_code) << "cmd's recipe writes otherwise than PowerShell's";
      const bool there = PathExists(dir / "key.bin");
      const std::string before = there ? ReadFile(dir / "key.bin") : "";
      const std::string printed = RunCmd(dir.path, example.command);
      EXPECT_EQ(Visible(printed), Visible(example.shown));
      if (there) {
        EXPECT_EQ(Visible(printed), message + "\n");
        EXPECT_FALSE(PathExists(dir / "powershell.txt")) << "PowerShell was called over an existing key";
        EXPECT_TRUE(SameBytes(ReadFile(dir / "key.bin"), before)) << "the key was written over";
      } else {
        EXPECT_EQ(Visible(ReadFile(dir / "powershell.txt")),
                  "-NoProfile -Command \"" + write_code + "\"\n");
        std::remove((dir / "powershell.txt").c_str());
        EXPECT_TRUE(SameBytes(ReadFile(dir / "key.bin"), made_key));
      }
      ++cmd_recipes;
    } else if (example.powershell) {
      const std::vector<std::string> words = PowerShellWords(example.command);
      ASSERT_GE(words.size(), 2u);
      ASSERT_EQ(words[0], ".\\talvex.exe") << "PowerShell runs no program from the current folder "
                                              "unless the line says where it is";
      const ToolResult run = RunTool(dir.path, {words.begin() + 1, words.end()});
      EXPECT_EQ(Visible(run.out + run.err), Visible(example.shown));
      words_run += words[1] + " ";
      ++tool_lines;
    } else {
      ASSERT_EQ(example.command.rfind("talvex.exe ", 0), 0u) << "a cmd line that is no recipe and no run of talvex.exe";
      EXPECT_EQ(Visible(RunCmd(dir.path, example.command)), Visible(example.shown));
      ++tool_lines;
    }
  }
  EXPECT_EQ(powershell_recipes, 2) << "the PowerShell recipe is shown run twice";
  EXPECT_EQ(cmd_recipes, 2) << "the cmd recipe is shown run twice";
  EXPECT_GE(tool_lines, 8);
  for (const std::string word : {"-e", "-t", "-d", "-i", "-h"}) {
    EXPECT_NE(words_run.find(word + " "), std::string::npos) << "no PowerShell example of " << word;
  }
  EXPECT_TRUE(SameBytes(ReadFile(dir / "restored.jpg"), photo));
}
