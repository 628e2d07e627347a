#include "crypto/signer_selection.h"

#include <span>

#include "certs/selection.h"
#include "common/status.h"

namespace quillmark::crypto {

int OpenUserStore(std::u16string_view name, platform::CertStore* store) {
  *store = platform::CertOpenStore(platform::kCertStoreProvSystemW, platform::kDefaultEncoding,
                                   platform::kCertSystemStoreCurrentUser, name);
  return store->is_open() ? kOk : kErrStoreOpen;
}

int SelectSigner(const platform::CertStore& my, bool server_mode, std::u16string_view dn,
                 std::u16string_view separator, bool key_spec, const certs::ChooserTexts& texts,
                 platform::CertContextPtr* signer) {
  certs::SelectionMode mode;
  mode.key = key_spec ? certs::KeyRule::kSignatureKey : certs::KeyRule::kPrivateKey;
  mode.server_mode = server_mode;
  return certs::SelectCertificate(std::span<const platform::CertStore>(&my, 1), dn, separator, mode,
                                  texts, signer);
}

}  // namespace quillmark::crypto
