// Replays inputs through a fuzz target's entry point, as libFuzzer replays
// the files it is given: built with the ordinary compiler and without
// libFuzzer, so that every build's suite runs the seed corpus and every
// finding kept from a fuzzing run. A crash, a sanitizer's report or a
// broken property (an abort) fails the run.
//
// Usage: replay_TARGET FOLDER_OR_FILE... (a folder that does not exist is
// a target without kept findings; the first must hold inputs)
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// There in a build under the sanitizers, which report their own findings.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

// The input being replayed, for the one line that names it when it fails.
char g_input[4096];

void NameTheInput() {
  constexpr char kWhile[] = "while replaying ";
  if (::write(STDERR_FILENO, kWhile, sizeof kWhile - 1) < 0) return;
  if (::write(STDERR_FILENO, g_input, std::strlen(g_input)) < 0) return;
  if (::write(STDERR_FILENO, "\n", 1) < 0) return;
}

extern "C" void OnFatalSignal(int signal) {
  NameTheInput();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
  // A broken property aborts; without the sanitizers, a crash is a signal
  // too. With them, their report comes first and then the name.
  std::signal(SIGABRT, OnFatalSignal);
  if (__sanitizer_set_death_callback != nullptr) {
    __sanitizer_set_death_callback(NameTheInput);
  } else {
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(signal, OnFatalSignal);
  }
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path where = argv[i];
    std::vector<std::filesystem::path> inputs;
    if (std::filesystem::is_directory(where)) {
      for (const auto& entry : std::filesystem::directory_iterator(where)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else if (std::filesystem::is_regular_file(where)) {
      inputs.push_back(where);
    } else if (i == 1) {
      std::fprintf(stderr, "no inputs at %s\n", argv[i]);
      return 1;
    }
    // In a fixed order, so that a failure names the same input every time.
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
      std::ifstream file(path, std::ios::binary);
      const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
      std::snprintf(g_input, sizeof g_input, "%s", path.c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  std::printf("%zu inputs replayed\n", replayed);
  return replayed == 0 ? 1 : 0;
}
