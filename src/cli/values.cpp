#include "cli/values.h"

ByteString KeyBytes;
std::int32_t CipherMode = 0;
ByteString SourceBytes;
ByteString CipherText;
ByteString PlainBytes;

void ReleaseValues() {
  ByteString().swap(KeyBytes);
  ByteString().swap(SourceBytes);
  ByteString().swap(CipherText);
  ByteString().swap(PlainBytes);
  CipherMode = 0;
}
