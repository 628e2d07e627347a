// PEM text: the blocks of a file in order, each as its label and DER bytes.
#ifndef QUILLMARK_PLATFORM_OPENSSL_PEM_H_
#define QUILLMARK_PLATFORM_OPENSSL_PEM_H_

#include <string>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform {

struct PemBlock {
  std::string label;  // "CERTIFICATE", "X509 CRL", ...
  Bytes der;
};

// True when |data| holds a PEM begin line.
bool LooksLikePem(ByteSpan data);

// Every PEM block of |data|, in order; text around the blocks is ignored.
// False when a block is malformed (bad Base64, missing end line) or there is
// no block at all.
bool ReadPemBlocks(ByteSpan data, std::vector<PemBlock>* out);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OPENSSL_PEM_H_
