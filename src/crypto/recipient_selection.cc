#include "crypto/recipient_selection.h"

#include "certs/selection.h"
#include "common/status.h"
#include "crypto/signer_selection.h"

namespace quillmark::crypto {

int OpenRecipientStores(RecipientStores* stores) {
  for (std::size_t i = 0; i < kRecipientStoreNames.size(); ++i) {
    if (int status = OpenUserStore(kRecipientStoreNames[i], &(*stores)[i]); status != kOk) {
      return status;
    }
  }
  return kOk;
}

int SelectRecipient(const RecipientStores& stores, bool server_mode, std::u16string_view dn,
                    std::u16string_view separator, const certs::ChooserTexts& texts,
                    platform::CertContextPtr* recipient) {
  certs::SelectionMode mode;
  mode.key = certs::KeyRule::kPrivateKey;  // not applied: several stores are searched
  mode.server_mode = server_mode;
  return certs::SelectCertificate(stores, dn, separator, mode, texts, recipient);
}

}  // namespace quillmark::crypto
