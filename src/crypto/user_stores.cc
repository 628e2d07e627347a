#include "crypto/user_stores.h"

#include "certs/selection.h"

namespace quillmark::crypto {

Status OpenUserStore(std::u16string_view name, platform::CertStore* store) {
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

platform::CertContextPtr SelectRecipient(const RecipientStores& stores,
                                         const certs::SignerQuery& query,
                                         const certs::ChooserTexts& texts) {
  certs::SignerQuery recipient{
      .dn = query.dn, .separator = query.separator, .server_mode = query.server_mode};
  return certs::SelectCertificate(stores, recipient, texts);
}

}  // namespace quillmark::crypto
