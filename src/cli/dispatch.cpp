#include "cli/dispatch.h"

#include "cipher/decrypt_stream.h"
#include "cipher/encrypt_stream.h"
#include "cipher/format.h"
#include "cipher/validate.h"
#include "cli/naming.h"
#include "core/console.h"
#include "core/process_values.h"
#include "keyio/files.h"
#include "keyio/key.h"
#include "platform/files.h"

namespace {

bool Contains(const std::string& word, const char* command) {
  return word.find(command) != std::string::npos;
}

// True when the output path names the input or the key file itself, however
// spelled: writing it would destroy the file being read. A link at the
// output path counts as itself, since it is replaced, never written
// through.
bool OutputIsAnInput(const std::string& output, const std::string& input, const std::string& key) {
  return platform::SameFile(output, input) || platform::SameFile(output, key);
}

// Why the derived output path may not be written, in the words of its error
// block; empty when it may. Asked before anything is written.
std::string OutputRefusal(const std::string& path, const std::vector<std::string>& args) {
  if (OutputIsAnInput(path, args[2], args[1])) return "OUTPUTFILE must not be the INPUTFILE or the KEYFILE!";
  if (!ProbeWritable(path)) return "Cannot write to OUTPUTFILE: " + args[3];
  return {};
}

// Opens the text to test or decrypt and reads as much of it as decides its
// validation: its mode code, then the shortest text of that mode. A pipe
// whose writer pauses, or never ends, is read no further than that.
ByteString OpenText(InputFile& in, const std::string& path) {
  OpenInput(in, path);
  ByteString head;
  head.resize(static_cast<std::size_t>(kValidatedLength));
  std::int64_t got = ReadInput(in, head.data(), 2);
  const std::int64_t deciding = DecidingLength({head.data(), static_cast<std::size_t>(got)});
  if (got == 2) got += ReadInput(in, head.data() + got, deciding - got);
  head.resize(static_cast<std::size_t>(got));
  return head;
}

// Writes at path what work makes, in the one order that keeps an old
// output whole on every failure: the output started, the work done into
// it, the key found unchanged (a text made while it changed belongs to no
// key), and only then the output completed.
template <typename Work>
void WriteOutputOf(const std::string& path, Work work) {
  OutputFile out;
  CreateOutput(out, path);
  work(out);
  CheckKeyUnchanged();
  FinishOutput(out);
}

void RunTest(const std::vector<std::string>& args) {
  if (!LoadKeyFile(args[1])) return;
  if (args[0] != "-t") return;
  const std::string& input = args[2];
  if (!platform::FileExists(input) || !HasTvxExtension(input)) {
    ShowError("INPUTFILE is not an encrypted 'Talvex File'!");
    return;
  }
  InputFile in;
  // The head alone decides, whatever the input is: a pipe or device is
  // read no further, for it may never end.
  const ByteString head = OpenText(in, input);
  const bool valid = ValidateCipherText(head);
  // A key that changed while it was looked at decides nothing.
  CheckKeyUnchanged();
  if (valid) {
    ShowLine("File: " + input + " is a valid 'Talvex Encryption' file!", true);
    WriteLine("");
    WriteLine("");
    SetTextColor(kWhite);
  } else {
    ShowError("File: " + input + " is NOT a valid 'Talvex Encryption' file!");
  }
}

void RunEncrypt(const std::vector<std::string>& args) {
  const std::string& input = args[2];
  if (!platform::FileExists(input)) {
    ShowError("INPUTFILE '" + input + "' does NOT exist");
    return;
  }
  if (!HasTvxExtension(args[3])) {
    ShowError("OUTPUTFILE must have 'tvx' extension!");
    return;
  }
  const std::string path = EncryptedOutputPath(input, args[3]);
  if (const std::string refusal = OutputRefusal(path, args); !refusal.empty()) {
    ShowError(refusal);
    return;
  }
  // An input that cannot be opened is reported before the progress scale.
  InputFile in;
  OpenInput(in, input);
  ExpectKeyLookups(in.SizeKnown() ? in.size : 0);
  WriteOutputOf(path, [&](OutputFile& out) { EncryptBytes(in, out); });
}

void RunDecrypt(const std::vector<std::string>& args) {
  const std::string& input = args[2];
  if (!platform::FileExists(input)) {
    ShowError("INPUTFILE '" + input + "' does NOT exist");
    return;
  }
  if (!HasTvxExtension(input)) {
    ShowError("INPUTFILE must have 'tvx' extension!");
    return;
  }
  InputFile in;
  const ByteString head = OpenText(in, input);
  if (!ValidateCipherText(head)) {
    ShowError("This is NOT a valid KEYFILE and/or TALVEX File!");
    return;
  }
  const std::string path = DecryptedOutputPath(input, args[3]);
  if (const std::string refusal = OutputRefusal(path, args); !refusal.empty()) {
    ShowError(refusal);
    return;
  }
  ExpectKeyLookups(in.SizeKnown() ? in.size / LayoutOf(CipherMode).entry_length : 0);
  WriteOutputOf(path, [&](OutputFile& out) { DecryptCipherText(head, in, out); });
}

void RunEncryptOrDecrypt(const std::vector<std::string>& args) {
  if (!LoadKeyFile(args[1])) return;
  // Only the exact words do work; -ed, --e or -tx end after the size line.
  if (args[0] == "-e") RunEncrypt(args);
  if (args[0] == "-d") RunDecrypt(args);
}

}  // namespace

Routing RouteCommandLine(const std::vector<std::string>& args) {
  Routing routing;
  const std::size_t n = args.size();
  if (n != 1 && n != 3 && n != 4) {
    routing.help = true;
    return routing;
  }
  const std::string& word = args[0];
  const bool h = Contains(word, "-h"), i = Contains(word, "-i");
  const bool e = Contains(word, "-e"), d = Contains(word, "-d"), t = Contains(word, "-t");
  if (!h && !i && !e && !d && !t) {
    routing.help = true;
    return routing;
  }
  if (n == 1 || h || i) {
    routing.help = h;
    routing.info = i;
    return routing;
  }
  if ((e || d) && n != 4) {
    routing.path = Routing::Path::kUsage;
  } else if (n == 3 || word == "-t") {
    routing.path = Routing::Path::kTest;
  } else {
    routing.path = Routing::Path::kEncryptOrDecrypt;
  }
  return routing;
}

void RunCommand(const std::vector<std::string>& args) {
  const Routing routing = RouteCommandLine(args);
  if (routing.help) ShowHelp();
  if (routing.info) ShowInfo();
  switch (routing.path) {
    case Routing::Path::kNone:
      break;
    case Routing::Path::kUsage:
      ShowLine(kUsageLine, true);
      ShowError("The '-e' and '-d' Commands need 4 Parameters!");
      break;
    case Routing::Path::kTest:
      RunTest(args);
      break;
    case Routing::Path::kEncryptOrDecrypt:
      RunEncryptOrDecrypt(args);
      break;
  }
}
