// Routing of any argument list, against the routing table written out as
// a table: the number of arguments and which command words the first one
// holds decide.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/dispatch.h"
#include "fuzz_support.h"

namespace {

Routing Expected(const std::vector<std::string>& args) {
  Routing r;
  const std::size_t n = args.size();
  auto holds = [&](const char* word) { return n > 0 && args[0].find(word) != std::string::npos; };
  const bool h = holds("-h"), i = holds("-i"), e = holds("-e"), d = holds("-d"), t = holds("-t");
  const bool any = h || i || e || d || t;
  if (n != 1 && n != 3 && n != 4) {
    r.help = true;  // 0, 2, 5 or more
  } else if (!any) {
    r.help = true;
  } else if (h || i) {
    r.help = h;
    r.info = i;
  } else if (n == 1) {
    // -e, -d or -t alone: nothing
  } else if (n == 3 && (e || d)) {
    r.path = Routing::Path::kUsage;
  } else if (n == 3 || args[0] == "-t") {
    r.path = Routing::Path::kTest;
  } else {
    r.path = Routing::Path::kEncryptOrDecrypt;
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments separated by zero bytes; no input is no argument.
  std::vector<std::string> args;
  if (size > 0) {
    std::string current;
    for (std::size_t k = 0; k < size; ++k) {
      if (data[k] == 0) {
        args.push_back(current);
        current.clear();
      } else {
        current += static_cast<char>(data[k]);
      }
    }
    args.push_back(current);
  }
  const Routing got = RouteCommandLine(args);
  const Routing want = Expected(args);
  Require(got.help == want.help && got.info == want.info && got.path == want.path);
  return 0;
}
