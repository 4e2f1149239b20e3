// The main flow: which command a command line runs, and the run itself.
#pragma once

#include <string>
#include <vector>

// What routing decides for a command line.
struct Routing {
  bool help = false;  // show the help screen
  bool info = false;  // then the info screen
  enum class Path { kNone, kUsage, kTest, kEncryptOrDecrypt } path = Path::kNone;
};

// Routes the arguments (the program's own path not counted).
Routing RouteCommandLine(const std::vector<std::string>& args);

// Runs the one command of a command line.
void RunCommand(const std::vector<std::string>& args);
