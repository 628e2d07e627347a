#include "crypto/user_stores.h"

#include <span>

#include "certs/selection.h"
#include "platform/keys/token_catalog.h"

namespace quillmark::crypto {

Status OpenUserStore(std::u16string_view name, platform::CertStore* store) {
  if (name == kMyStoreName) platform::PropagateTokenCertificates();
  *store = platform::CertOpenStore(platform::kCertStoreProvSystemW, platform::kDefaultEncoding,
                                   platform::kCertSystemStoreCurrentUser, name);
  return store->is_open() ? kOk : kErrStoreOpen;
}

Status OpenRecipientStores(RecipientStores* stores) {
  for (std::size_t i = 0; i < kRecipientStoreNames.size(); ++i) {
    if (Status status = OpenUserStore(kRecipientStoreNames[i], &(*stores)[i]); !status.ok()) {
      return status;
    }
  }
  return kOk;
}

Status SelectSigner(const certs::SignerQuery& query, const certs::ChooserTexts& texts,
                    platform::CertStore* my, platform::CertContextPtr* signer) {
  if (Status status = OpenUserStore(kMyStoreName, my); !status.ok()) return status;
  *signer = certs::SelectCertificate(std::span<const platform::CertStore>(my, 1), query, texts);
  return *signer ? kOk : kErrCertNotFound;
}

platform::CertContextPtr SelectRecipient(const RecipientStores& stores,
                                         const certs::SignerQuery& query,
                                         const certs::ChooserTexts& texts) {
  certs::SignerQuery recipient{
      .dn = query.dn, .separator = query.separator, .server_mode = query.server_mode};
  return certs::SelectCertificate(stores, recipient, texts);
}

}  // namespace quillmark::crypto
