// Windows: the user's word before a message call uses a private key. The
// system picks the recipient key of an envelope itself, so the recipients
// are read first and looked up in the caller's stores as the system will.
#include <new>

#include "platform/message/win/message_win.h"
#include "platform/store/cert_context.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::platform::msg {

namespace {

bool Confirm(const ui::KeyUse& use) {
  try {
    return ui::CurrentDialogHost().ConfirmKeyUse(use);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// A copy of the first certificate of |stores| that |recipient| (its issuer
// and serial) names and that has a key in this system; null when none has.
CertContextPtr RecipientWithKey(const std::vector<HCERTSTORE>& stores, const CERT_INFO* recipient) {
  for (HCERTSTORE store : stores) {
    PCCERT_CONTEXT found = ::CertGetSubjectCertificateFromStore(store, kDefaultEncoding,
                                                                const_cast<CERT_INFO*>(recipient));
    if (found == nullptr) continue;
    DWORD size = 0;
    CertContextPtr copy;
    if (::CertGetCertificateContextProperty(found, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      copy = CertCreateCertificateContext(kX509AsnEncoding,
                                          ByteSpan(found->pbCertEncoded, found->cbCertEncoded));
    }
    ::CertFreeCertificateContext(found);
    if (copy != nullptr) return copy;
  }
  return nullptr;
}

}  // namespace

std::uint32_t ConfirmSigning(const CertContextPtr& signer, ByteSpan content) {
  return Confirm({.action = ui::KeyUseAction::kSign, .key_owner = signer.get(), .content = content})
             ? 0
             : kScardWCancelledByUser;
}

std::uint32_t ConfirmOpening(const SystemDecryptPara& para, ByteSpan blob) {
  CertContextPtr owner;
  bool read = false;  // the recipients could be read
  HCRYPTMSG msg = ::CryptMsgOpenToDecode(kDefaultEncoding, 0, 0, 0, nullptr, nullptr);
  if (msg != nullptr) {
    DWORD count = 0;
    DWORD size = sizeof(count);
    if (::CryptMsgUpdate(msg, blob.data(), static_cast<DWORD>(blob.size()), TRUE) &&
        ::CryptMsgGetParam(msg, CMSG_RECIPIENT_COUNT_PARAM, 0, &count, &size)) {
      read = true;
      for (DWORD i = 0; i < count && owner == nullptr; ++i) {
        size = 0;
        if (!::CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, i, nullptr, &size)) continue;
        std::vector<BYTE> info(size);
        if (!::CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, i, info.data(), &size)) continue;
        owner = RecipientWithKey(para.stores, reinterpret_cast<const CERT_INFO*>(info.data()));
      }
    }
    ::CryptMsgClose(msg);
  }
  // Recipients read and none has a key here: the system fails on its own
  // without using a key. Recipients not read: ask all the same.
  if (read && owner == nullptr) return 0;
  return Confirm({.action = ui::KeyUseAction::kDecrypt, .key_owner = owner.get(), .content = {}})
             ? 0
             : kScardWCancelledByUser;
}

}  // namespace quillmark::platform::msg
