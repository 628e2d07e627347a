// The current user's stores the engine operations open, and how a recipient
// is selected in them.
//
// A signer is selected in "MY" alone, so only certificates with a private key
// are eligible. A recipient (of an envelope, or the signer of a bare
// signature to check) is selected among the certificates of other people:
// "CA", "ROOT" and "AddressBOOK", opened in that order and searched together
// (so the first store's copy of a certificate installed twice wins); since
// three stores are searched, a recipient needs no private key, and the
// signature-key rule and the SM2 forms never apply to it.
//
//   platform::CertStore my;
//   platform::CertContextPtr signer;
//   if (Status status = SelectSigner(query, texts, &my, &signer); !status.ok()) return status;
//   RecipientStores others;
//   if (Status status = OpenRecipientStores(&others); !status.ok()) return status;
//   platform::CertContextPtr recipient = SelectRecipient(others, query, texts);
#ifndef QUILLMARK_CRYPTO_USER_STORES_H_
#define QUILLMARK_CRYPTO_USER_STORES_H_

#include <array>
#include <string_view>

#include "certs/choose_cert_dlg.h"
#include "certs/signer_query.h"
#include "common/status.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {

inline constexpr char16_t kMyStoreName[] = u"MY";

inline constexpr std::array<std::u16string_view, 3> kRecipientStoreNames = {u"CA", u"ROOT",
                                                                            u"AddressBOOK"};

using RecipientStores = std::array<platform::CertStore, kRecipientStoreNames.size()>;

// Opens the current user's system store |name| (created empty when it does
// not exist). kErrStoreOpen when it cannot be opened.
Status OpenUserStore(std::u16string_view name, platform::CertStore* store);

// Opens the three stores in order; kErrStoreOpen at the first that cannot be
// opened (those opened before it are closed when |stores| goes).
Status OpenRecipientStores(RecipientStores* stores);

// Opens "MY" into |my| and selects the signer |query| names in it (the key
// rule and SM2 forms of |query| apply). kErrStoreOpen, or kErrCertNotFound
// when nothing matched or the chooser was dismissed.
Status SelectSigner(const certs::SignerQuery& query, const certs::ChooserTexts& texts,
                    platform::CertStore* my, platform::CertContextPtr* signer);

// The recipient |query| names among |stores| (its DN, separator and server
// mode), or null.
platform::CertContextPtr SelectRecipient(const RecipientStores& stores,
                                         const certs::SignerQuery& query,
                                         const certs::ChooserTexts& texts);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_USER_STORES_H_
