// Validation of any text against a key of any mode's size: it never reads
// outside either, it gives a mode or 0 (or the conversion error), and the
// text's first characters decide alone, as the test of a large file
// relies on.
#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/format.h"
#include "cipher/validate.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const ByteString& key = FuzzKey(FuzzKeyLength(data));
  const std::span<const std::uint8_t> text(data + 3, size - 3);
  std::int32_t mode = -1;
  const std::string failure = FailureOf([&] { mode = ValidateText(text, key); });
  // The head a run reads: as far as its mode code decides, at most the
  // widest mode's shortest text.
  std::int32_t head_mode = -1;
  const auto deciding = static_cast<std::size_t>(DecidingLength(text.first(std::min<std::size_t>(text.size(), 2))));
  Require(deciding <= static_cast<std::size_t>(kValidatedLength));
  const std::size_t head = std::min<std::size_t>(text.size(), deciding);
  const std::string head_failure = FailureOf([&] { head_mode = ValidateText(text.first(head), key); });
  Require(failure == head_failure && mode == head_mode);
  if (!failure.empty()) {
    Require(failure.rfind("ConversionError: \"$", 0) == 0);
    return 0;
  }
  Require(mode == 0 || mode == 8 || mode == 16 || mode == 32);
  if (mode != 0) {
    const ModeLayout& layout = LayoutOf(mode);
    const std::string_view code(reinterpret_cast<const char*>(text.data()), 2);
    Require(static_cast<std::int64_t>(text.size()) >= layout.shortest_text);
    Require(code == layout.code || code == layout.also_read);
  }
  return 0;
}
