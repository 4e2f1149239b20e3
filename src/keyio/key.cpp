#include "keyio/key.h"

#include "cli/console.h"
#include "cli/values.h"
#include "keyio/files.h"
#include "platform/files.h"

std::string KeySizeLine(std::int64_t length) {
  return "KEYFILE SIZE: " + std::to_string(length) + " bytes -> " +
         std::to_string(ModeForKeyLength(length)) + " bit encryption";
}

bool LoadKeyFile(const std::string& path) {
  if (!platform::FileExists(path)) {
    ShowError("KEYFILE does not exist!");
    return false;
  }
  // The size on disk decides before anything is read: nobody should wait
  // for a huge file to be read only to be told it is too big.
  if (!ReadWholeFileWithin(path, kMinKeyLength, kMaxKeyLength, KeyBytes)) {
    ShowError("KEYFILE SIZE must be between 100 bytes and 1 GB!");
    return false;
  }
  const auto length = static_cast<std::int64_t>(KeyBytes.size());
  CipherMode = ModeForKeyLength(length);
  ShowLine(KeySizeLine(length), true);
  return true;
}
