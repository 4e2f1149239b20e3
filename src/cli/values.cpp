#include "cli/values.h"

ByteString KeyBytes;
std::int32_t CipherMode = 0;

void ReleaseValues() {
  ByteString().swap(KeyBytes);
  CipherMode = 0;
}
