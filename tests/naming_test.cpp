// Output names derived from the arguments, and the write probe.
#include <gtest/gtest.h>

#include "cli/naming.h"
#include "tool_runner.h"

TEST(Naming, EncryptedOutputPath) {
  const std::string_view cases[][3] = {
      {"report.docx", "out.tvx", "doc#out.tvx"},
      {"photo.jpg", "D:\\safe\\photo.tvx", "D:\\safe\\jpg#photo.tvx"},
      {"scan.z", "scan.tvx", "z#scan.tvx"},
      {"README", "readme.tvx", "#readme.tvx"},
      {"archive.tar.gz", "E:\\bk\\archive.tvx", "E:\\bk\\gz#archive.tvx"},
      {"D:\\old.files\\README", "x.tvx", "#x.tvx"},
      {".profile", "p.tvx", "#p.tvx"},
      {"data.JPEG", "out.TVX", "JPE#out.TVX"},
      {"report.docx", "D:out.tvx", "D:doc#out.tvx"},
      {"dir/a.b/c", "x/y.tvx", "x/#y.tvx"},
      {"x.\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", "o.tvx", "\xC3\xA4\xC3\xB6\xC3\xBC#o.tvx"},  // whole characters
      {"", "", "#"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncryptedOutputPath(c[0], c[1]), c[2]) << c[0];
}

TEST(Naming, DecryptedOutputPath) {
  const std::string_view cases[][3] = {
      {"doc#out.tvx", "report.txt", "report.doc"},
      {"D:\\safe\\jpg#photo.tvx", "E:\\restore\\photo", "E:\\restore\\photo.jpg"},
      {"doc#out.tvx", "my.report.final.txt", "my.doc"},
      {"doc#out.tvx", ".txt", ".doc"},
      {"z#scan.tvx", "scan.z", "scan.z#s"},
      {"#readme.tvx", "readme", "readme.#re"},
      {"secret.tvx", "out.txt", "out.sec"},
      {"jpg#photo.tvx", "E:\\restore\\", "E:\\restore\\.jpg"},
      {"doc#out.tvx", "  my file .txt", "my file.doc"},
      {"a", "\t\x01x\x7f.y", "x\x7f.a"},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.tvx", "o", "o.\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
      // An unpaired surrogate, as Windows arguments hold it (WTF-8), is one character.
      {"\xED\xA0\x80xyz.tvx", "o", "o.\xED\xA0\x80xy"},
      {"", "", "."},
  };
  for (const auto& c : cases) EXPECT_EQ(DecryptedOutputPath(c[0], c[1]), c[2]) << c[1];
  // A name without a dot is cut after 200 characters, then trimmed.
  const std::string long_name = std::string(199, 'n') + " " + std::string(50, 'm');
  EXPECT_EQ(DecryptedOutputPath("doc#x.tvx", "dir/" + long_name),
            "dir/" + std::string(199, 'n') + ".doc");
  // Characters, not bytes: 200 two-byte characters stay whole.
  std::string wide_name;
  for (int i = 0; i < 201; ++i) wide_name += "\xC3\xA9";
  EXPECT_EQ(DecryptedOutputPath("abc", wide_name), wide_name.substr(0, 400) + ".abc");
  EXPECT_EQ(DecryptedOutputPath("abc", " \xC3\xA9 .x"), "\xC3\xA9.abc");
}

TEST(Naming, TvxExtension) {
  const std::pair<std::string_view, bool> cases[] = {
      {"x.tvx", true},     {"X.TVX", true},    {"x.Tvx", true},      {"a.b/c.tvx", true},
      {"x.tvx.bak", false}, {"xtvx", false},   {".tvx", false},      {"dir/.tvx", false},
      {"dir\\.tvx", false}, {"a:.tvx", true},  {"x.tvx/", false},    {"x.tvxx", false},
      {"x.tv", false},     {"", false},
  };
  for (const auto& [path, tvx] : cases) EXPECT_EQ(HasTvxExtension(path), tvx) << path;
}

TEST(Probe, CreatesAndRemovesOrLeavesAnExistingFileIntact) {
  TempDir dir;
  EXPECT_TRUE(ProbeWritable(dir / "new.tvx"));
  EXPECT_FALSE(PathExists(dir / "new.tvx"));
  EXPECT_FALSE(ProbeWritable(dir / "missing/new.tvx"));
  EXPECT_FALSE(PathExists(dir / "missing"));
  WriteFile(dir / "old.tvx", "precious");
  EXPECT_TRUE(ProbeWritable(dir / "old.tvx"));
  EXPECT_TRUE(SameBytes(ReadFile(dir / "old.tvx"), "precious"));
  EXPECT_FALSE(ProbeWritable(dir.path));  // a directory of that name
}
