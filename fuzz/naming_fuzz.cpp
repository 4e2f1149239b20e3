// The output names of any pair of arguments: never a crash or a read past
// either, an encrypted name always holds "#", a decrypted one ".", and both
// are put together from the pieces the naming rules name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/naming.h"
#include "fuzz_support.h"

namespace {

std::string_view DirectoryOf(std::string_view path) {
  const auto last = path.find_last_of("\\/:");
  return last == std::string_view::npos ? std::string_view() : path.substr(0, last + 1);
}

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input argument, a zero byte, the output argument.
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const auto zero = all.find('\0');
  const std::string input(all.substr(0, zero));
  const std::string output(zero == std::string_view::npos ? std::string_view() : all.substr(zero + 1));
  const std::string_view output_dir = DirectoryOf(output);
  const std::string_view output_name = std::string_view(output).substr(output_dir.size());
  const std::string_view input_name = std::string_view(input).substr(DirectoryOf(input).size());

  // Directory, a piece of the input's extension, "#", the output's name.
  const std::string encrypted = EncryptedOutputPath(input, output);
  Require(encrypted.find('#') != std::string::npos);
  Require(StartsWith(encrypted, output_dir));
  Require(encrypted.size() >= output.size() + 1);
  Require(encrypted.substr(encrypted.size() - output_name.size()) == output_name);
  const std::string_view middle = std::string_view(encrypted).substr(
      output_dir.size(), encrypted.size() - output_dir.size() - output_name.size());
  Require(!middle.empty() && middle.back() == '#');
  // Up to three characters from the extension, after its dot (a dot
  // followed by stray continuation bytes counts them as its own).
  const std::string_view extension = ExtensionOf(input);
  Require(middle.size() == 1 ||
          extension.substr(1).find(middle.substr(0, middle.size() - 1)) != std::string_view::npos);

  // Directory, a base name without a dot, ".", the start of the input's name.
  const std::string decrypted = DecryptedOutputPath(input, output);
  Require(decrypted.find('.') != std::string::npos);
  Require(StartsWith(decrypted, output_dir));
  const std::string_view rest = std::string_view(decrypted).substr(output_dir.size());
  const auto dot = rest.find('.');
  Require(dot != std::string_view::npos);
  Require(StartsWith(input_name, rest.substr(dot + 1)));
  return 0;
}
