// Opening the current user's stores and selecting the signer in "MY", as
// every operation that signs (SignMessage, SignAndEncryptEnvelope) does it.
//
// The signer is selected by the DN protocol of certs/selection.h in a store
// list of "MY" alone, so only certificates with a private key are eligible
// (with |key_spec|: only signature keys, AT_SIGNATURE):
//   no DN                 the chooser over every eligible certificate;
//   DN and server mode    the first certificate whose subject matches, no
//                         dialog and no key filter;
//   DN otherwise          the matching certificates (the chooser for
//                         several), and when none matched at all, once more
//                         with the DN reversed and the chooser forced.
//
//   platform::CertStore my;
//   if (int status = OpenUserStore(u"MY", &my); status != kOk) return status;
//   platform::CertContextPtr signer;
//   if (int status = SelectSigner(my, server_mode, dn, separator, key_spec, texts, &signer);
//       status != kOk) return status;  // kErrCertNotFound
#ifndef QUILLMARK_CRYPTO_SIGNER_SELECTION_H_
#define QUILLMARK_CRYPTO_SIGNER_SELECTION_H_

#include <string_view>

#include "certs/choose_cert_dlg.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::crypto {

inline constexpr char16_t kMyStoreName[] = u"MY";

// Opens the current user's system store |name| (created empty when it does
// not exist). kErrStoreOpen when it cannot be opened.
int OpenUserStore(std::u16string_view name, platform::CertStore* store);

// The signer in |my| by the rules above; an empty |dn| means none. kOk with
// *signer set, or kErrCertNotFound.
int SelectSigner(const platform::CertStore& my, bool server_mode, std::u16string_view dn,
                 std::u16string_view separator, bool key_spec, const certs::ChooserTexts& texts,
                 platform::CertContextPtr* signer);

}  // namespace quillmark::crypto

#endif  // QUILLMARK_CRYPTO_SIGNER_SELECTION_H_
