#include "platform/ui/key_use.h"

#include "platform/names/cert_name.h"
#include "platform/names/cert_text.h"

namespace quillmark::platform::ui {

std::u16string_view KeyUseActionName(KeyUseAction action) {
  return action == KeyUseAction::kDecrypt ? u"decrypt" : u"sign";
}

KeyOwner KeyOwnerOf(const CertContext& cert) {
  KeyOwner owner;
  if (!CertNameToStrW(kX509AsnEncoding, cert.subject_der(), kCertX500NameStr, &owner.subject)) {
    owner.subject = SimpleDisplayName(cert.subject_der());
  }
  if (!CertNameToStrW(kX509AsnEncoding, cert.issuer_der(), kCertX500NameStr, &owner.issuer)) {
    owner.issuer = SimpleDisplayName(cert.issuer_der());
  }
  owner.serial = FormatSerialText(cert.serial());
  owner.not_after = FormatCertTimeText(cert.not_after());
  return owner;
}

}  // namespace quillmark::platform::ui
