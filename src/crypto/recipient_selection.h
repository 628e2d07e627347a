// Finding the recipient of an envelope among the certificates of other
// people: the current user's "CA", "ROOT" and "AddressBOOK" stores, opened in
// that order and searched together (so the first store's copy of a
// certificate installed twice wins).
//
// Since three stores are searched, a recipient needs no private key. The DN
// protocol of certs/selection.h applies, never with the signature-key rule:
//   no DN                 the chooser over every certificate of the stores;
//   DN and server mode    the first certificate whose subject matches;
//   DN otherwise          the matching certificates (the chooser for
//                         several), and when none matched at all, once more
//                         with the DN reversed and the chooser forced.
//
//   RecipientStores stores;
//   if (int status = OpenRecipientStores(&stores); status != kOk) return status;
//   platform::CertContextPtr recipient;
//   if (int status = SelectRecipient(stores, server_mode, dn, separator, texts, &recipient);
//       status != kOk) return status;  // kErrCertNotFound
#ifndef QUILLMARK_CRYPTO_RECIPIENT_SELECTION_H_
#define QUILLMARK_CRYPTO_RECIPIENT_SELECTION_H_

#include <array>
#include <string_view>

#include "certs/choose_cert_dlg.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {

inline constexpr std::array<std::u16string_view, 3> kRecipientStoreNames = {u"CA", u"ROOT",
                                                                            u"AddressBOOK"};

using RecipientStores = std::array<platform::CertStore, kRecipientStoreNames.size()>;

// Opens the three stores in order; kErrStoreOpen at the first that cannot be
// opened (those opened before it are closed when |stores| goes).
int OpenRecipientStores(RecipientStores* stores);

// The recipient by the rules above; an empty |dn| means none. kOk with
// *recipient set, or kErrCertNotFound.
int SelectRecipient(const RecipientStores& stores, bool server_mode, std::u16string_view dn,
                    std::u16string_view separator, const certs::ChooserTexts& texts,
                    platform::CertContextPtr* recipient);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_RECIPIENT_SELECTION_H_
