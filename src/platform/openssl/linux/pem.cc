#include "platform/openssl/pem.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <string_view>

#include "platform/openssl/openssl_ptr.h"

namespace quillmark::platform {

bool LooksLikePem(ByteSpan data) {
  return AsChars(data).find("-----BEGIN ") != std::string_view::npos;
}

bool ReadPemBlocks(ByteSpan data, std::vector<PemBlock>* out) {
  if (data.size() > static_cast<size_t>(INT32_MAX)) return false;
  std::string_view text = AsChars(data);
  // Count the begin lines so that a damaged block is not silently skipped.
  size_t expected = 0;
  for (size_t pos = text.find("-----BEGIN "); pos != std::string_view::npos;
       pos = text.find("-----BEGIN ", pos + 1)) {
    ++expected;
  }
  if (expected == 0) return false;
  ossl::BioPtr bio(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  if (bio == nullptr) return false;
  std::vector<PemBlock> blocks;
  for (;;) {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* bytes = nullptr;
    long len = 0;
    if (PEM_read_bio(bio.get(), &name, &header, &bytes, &len) != 1) break;
    ossl::OpensslMemory<char> owned_name(name);
    ossl::OpensslMemory<char> owned_header(header);
    ossl::OpensslBuffer owned_bytes(bytes);
    PemBlock block;
    block.label = name;
    block.der.assign(bytes, bytes + len);
    blocks.push_back(std::move(block));
  }
  bio.reset();
  ERR_clear_error();
  if (blocks.size() != expected) return false;
  *out = std::move(blocks);
  return true;
}

}  // namespace quillmark::platform
