// SoftHSM2 tokens in a scratch folder, for tests of the token provider.
//
// Construction writes a SoftHSM2 configuration whose token folder lies in
// |dir| and a module list naming only libsofthsm2.so, and points
// SOFTHSM2_CONF and QUILLMARK_TOKEN_MODULES at them (for this process and
// every process it starts), so no real token is ever asked.
//
//   SoftTokens tokens(scratch.path());
//   std::string serial = tokens.InitToken("Alpha", "1234");
//   tokens.ImportKey("Alpha", "1234", key.get(), "01", "signer");
//   tokens.PutCertificate(serial, "1234", cert_der, {0x01}, "signer");
#ifndef QUILLMARK_TESTS_SUPPORT_SOFT_TOKENS_H_
#define QUILLMARK_TESTS_SUPPORT_SOFT_TOKENS_H_

#include <openssl/evp.h>

#include <string>

#include "common/bytes.h"

namespace quillmark::testing {

inline constexpr char kSoftHsmModule[] = "/usr/lib/softhsm/libsofthsm2.so";

class SoftTokens {
 public:
  explicit SoftTokens(const std::string& dir);

  // Initializes a free slot's token; its serial, or empty on failure.
  std::string InitToken(const std::string& label, const std::string& pin);
  // Imports a key pair (softhsm2-util --import) with CKA_ID |id_hex|.
  bool ImportKey(const std::string& token_label, const std::string& pin, EVP_PKEY* key,
                 const std::string& id_hex, const std::string& key_label);
  // Writes a certificate object onto the token (through this process's own
  // copy of the module: call after the tokens are made).
  bool PutCertificate(const std::string& serial, const std::string& pin, ByteSpan der, ByteSpan id,
                      const std::string& label);
  // Deletes the token's files, as if it were pulled for good.
  bool RemoveToken(const std::string& serial);
  // Rewrites the module list.
  bool SetModules(const std::string& text);

  const std::string& dir() const { return dir_; }
  const std::string& modules_file() const { return modules_; }

 private:
  std::string dir_;
  std::string modules_;
};

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_SOFT_TOKENS_H_
