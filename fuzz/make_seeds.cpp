// Writes the seed corpus of the fuzz targets into fuzz/corpus: real texts of
// every mode made with the keys the targets make, texts at the boundary
// lengths, tampered texts, and the examples of the naming and routing
// rules. Run by hand when the targets' input formats change:
//   build-fuzz/fuzz/fuzz_make_seeds fuzz/corpus
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cipher/encrypt.h"
#include "fuzz_support.h"
#include "keyio/key.h"

namespace {

std::string g_root;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  std::filesystem::create_directories(g_root + "/" + target);
  std::ofstream(g_root + "/" + target + "/" + name, std::ios::binary) << bytes;
}

std::string Encrypt(const ByteString& key, const std::string& source) {
  const ModeLayout& layout = LayoutOf(ModeForKeyLength(static_cast<std::int64_t>(key.size())));
  Mt19937 generator;
  SeedMt19937(generator, 1);
  ByteString text(static_cast<std::size_t>(CipherTextLength(layout, static_cast<std::int64_t>(source.size()))));
  const ByteString bytes(source.begin(), source.end());
  EncryptInto(key, layout, bytes, generator, text.data(), nullptr);
  return std::string(text.begin(), text.end());
}

// The texts of one key: made, and damaged in the ways decoding must judge.
std::vector<std::pair<std::string, std::string>> Texts(const ByteString& key) {
  const ModeLayout& layout = LayoutOf(ModeForKeyLength(static_cast<std::int64_t>(key.size())));
  const auto head = static_cast<std::size_t>(HeadLength(layout));
  const auto entry = static_cast<std::size_t>(layout.entry_length);
  std::vector<std::pair<std::string, std::string>> texts = {
      {"empty", Encrypt(key, "")},
      {"one", Encrypt(key, "A")},
      {"hello", Encrypt(key, "hello world")},
  };
  std::string every;
  for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
  texts.emplace_back("every_byte", Encrypt(key, every));
  const std::string text = Encrypt(key, "0123456789");
  auto add = [&](const std::string& name, std::string changed) { texts.emplace_back(name, std::move(changed)); };
  std::string t = text;
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  add("lower_case", t);
  t = text;
  t[head + 3 * entry + 1] = 'G';
  add("bad_position_digit", t);
  t = text;
  t[head + 4 * entry + layout.position_width + 1] = 'x';
  add("bad_value_digit", t);
  t = text;
  t.replace(head + 2 * entry, static_cast<std::size_t>(layout.position_width),
            std::string(static_cast<std::size_t>(layout.position_width), 'F'));
  add("position_beyond_key", t);
  t = text;
  t.replace(head + 2 * entry, static_cast<std::size_t>(layout.position_width),
            std::string(static_cast<std::size_t>(layout.position_width), '0'));
  add("position_zero", t);
  add("no_end_marker", text.substr(0, text.size() - 7));
  add("cut_in_entry", text.substr(0, head + 3 * entry + 5));
  add("junk_after_marker", text + "ZZ,GG,");
  t = text;
  t.replace(0, 2, layout.also_read);
  add("older_code", t);
  t = text;
  t.replace(0, 2, "10");
  add("unknown_code", t);
  t = text;
  t[head + 2] = ';';
  add("other_separator", t);
  const std::string empty = Encrypt(key, "");
  add("one_short", empty.substr(0, empty.size() - 1));
  return texts;
}

}  // namespace

int main(int argc, char** argv) {
  g_root = argc > 1 ? argv[1] : "fuzz/corpus";
  // Selector bytes and the key lengths they choose: the ends of each mode.
  struct Choice {
    std::uint8_t select[3];
    std::size_t length;
  } choices[] = {{{0, 0, 0}, 100},       {{0, 155, 0}, 255},        {{1, 0, 0}, 256},
                 {{1, 0, 0x0F}, 4096},   {{1, 0xFF, 0xFE}, 65535},  {{2, 0, 0}, 65536},
                 {{2, 23, 1}, 70000}};
  for (const Choice& c : choices) {
    if (FuzzKeyLength(c.select) != c.length) {
      std::fprintf(stderr, "selector does not choose %zu\n", c.length);
      return 1;
    }
    const ByteString& key = FuzzKey(c.length);
    const std::string select(reinterpret_cast<const char*>(c.select), 3);
    const std::int32_t mode = ModeForKeyLength(static_cast<std::int64_t>(c.length));
    const char mode_byte = static_cast<char>(mode == 8 ? 0 : mode == 16 ? 1 : 2);
    for (const auto& [name, text] : Texts(key)) {
      const std::string file = std::to_string(c.length) + "_" + name;
      Seed("validate", file, select + text);
      Seed("decrypt", file, select + mode_byte + text);
    }
  }
  const char* fields[] = {"0", "00", "FF", "ff", "7FFFFFFF", "80000000", "FFFFFFFF", "00000000",
                          "1a2B", "G1", "$1", " 1", "-1", "", "123456789ABCDEF0"};
  int n = 0;
  for (const char* field : fields) Seed("hex_to_int", "field" + std::to_string(n++), field);
  const char* names[][2] = {
      {"report.docx", "out.tvx"},          {"photo.jpg", "D:\\safe\\photo.tvx"},
      {"scan.z", "scan.tvx"},              {"README", "readme.tvx"},
      {"archive.tar.gz", "E:\\bk\\archive.tvx"}, {"D:\\old.files\\README", "x.tvx"},
      {".profile", "p.tvx"},               {"data.JPEG", "out.TVX"},
      {"doc#out.tvx", "report.txt"},       {"doc#out.tvx", "my.report.final.txt"},
      {"z#scan.tvx", "scan.z"},            {"jpg#photo.tvx", "E:\\restore\\"},
      {"doc#out.tvx", "  my file .txt"},   {"\xC3\xA9t\xC3\xA9.docx", "\xE2\x82\xAC.tvx"},
  };
  n = 0;
  for (const auto& pair : names) {
    Seed("naming", "pair" + std::to_string(n++), std::string(pair[0]) + '\0' + pair[1]);
  }
  const std::vector<std::vector<std::string>> lines = {
      {"-e", "key", "in", "out.tvx"}, {"-d", "key", "in.tvx", "out"}, {"-t", "key", "in.tvx"},
      {"-t", "key", "in.tvx", "x"},   {"-h"},                          {"-hi"},
      {"x-i-h"},                      {"-e", "key", "in"},             {"x-t", "key", "in.tvx"},
      {"-ex", "key", "in", "out"},    {"-e"},                          {"-e", "k"},
      {"-e", "a", "b", "c", "d"},     {"-T", "key", "in.tvx"},
  };
  n = 0;
  for (const auto& line : lines) {
    std::string joined;
    for (std::size_t i = 0; i < line.size(); ++i) joined += (i ? std::string(1, '\0') : "") + line[i];
    Seed("routing", "line" + std::to_string(n++), joined);
  }
  return 0;
}
