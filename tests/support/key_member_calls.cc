#include "support/key_member_calls.h"

#include <algorithm>

#include "common/unicode.h"
#include "platform/keys/key_import.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"

namespace quillmark::testing {
namespace {

bool AddFixedIssuerSigner(std::string* error) {
  EvpPkeyPtr key = MakeRsaKey();
  CertSpec spec;
  spec.subject = NameBuilder().Add("CN", "Fixed Issuer Signer").Add("O", "Quillmark Tests").Der();
  spec.issuer = NameBuilder().Add("O", "VevorAvuze").Add("OU", "config").Add("CN", "ZAVU").Der();
  spec.subject_key = key.get();
  spec.serial = {0x0A, 0x1B, 0x2C};
  spec.not_after = 2524607999;  // 2049-12-31T23:59:59Z
  spec.extensions = {{"keyUsage", "critical,digitalSignature,nonRepudiation"}};
  const Bytes der = MakeCertificate(spec);
  const std::string key_pem = PrivateKeyPem(key.get());
  platform::CertificateWithKey with_key;
  platform::CertContextPtr added;
  const platform::CertStore my = platform::CertOpenStore(
      platform::kCertStoreProvSystemW, 0, platform::kCertSystemStoreCurrentUser, u"MY");
  if (platform::ReadCertificateAndKey(der, AsBytes(key_pem), "", &with_key) !=
          platform::ImportError::kNone ||
      platform::ImportCertificateWithKey(my, with_key, platform::kAtSignature, &added) !=
          platform::ImportError::kNone) {
    *error = "the fixed issuer's signer could not be imported";
    return false;
  }
  return true;
}

}  // namespace

bool MakeKeyMaterial(control::CCorvaneQuillmark& qm, KeyMaterial* m, std::string* error) {
  using control::S_OK;
  if (!AddFixedIssuerSigner(error)) return false;
  std::u16string attached;
  if (qm.QMSetPlainText(m->text) != S_OK || qm.QMAttachedSign(m->signer_dn, &attached) != S_OK ||
      qm.QMAttachedVerify(attached) != S_OK) {
    *error = "no signature of " + Utf16ToUtf8Lossy(m->signer_dn);
    return false;
  }
  // The serial number as QMGetSignerCertInfo writes it has a space between
  // bytes; the BySN members take one token.
  if (qm.QMGetSignerCertInfo(5, &m->signer_serial) != S_OK ||
      qm.QMGetSignerCertInfo(2, &m->signer_issuer) != S_OK) {
    *error = "no signer information";
    return false;
  }
  std::erase(m->signer_serial, u' ');
  if (qm.QMSetPlainText(m->text) != S_OK ||
      qm.QMEncryptedEnvelop(m->recipient_dn, &m->envelope) != S_OK ||
      qm.QMSetPlainText(m->text) != S_OK ||
      qm.QMSignedAndEncryptedEnvelop(m->signer_dn, m->recipient_dn, &m->sealed) != S_OK) {
    *error = "no envelope for " + Utf16ToUtf8Lossy(m->recipient_dn);
    return false;
  }
  if (m->signer_serial.empty() || m->signer_issuer.empty() || m->envelope.empty() ||
      m->sealed.empty()) {
    *error = "empty key material";
    return false;
  }
  return true;
}

std::vector<KeyMemberCall> KeyMemberCalls(const KeyMaterial& m) {
  using com::Variant;
  const Variant dn(m.signer_dn);
  const Variant to(m.recipient_dn);
  const Variant text(m.text);
  const Variant sn(m.signer_serial);
  const Variant issuer(m.signer_issuer);
  const Variant fixed(m.fixed_serial);
  const std::u16string& li = m.signer_dn;
  const std::u16string& zhang = m.recipient_dn;
  const std::u16string& fixed_owner = m.fixed_dn;
  return {
      {"QMAttachedSign", {dn}, false, li, 0},
      {"QMDecryptedAndVerifiedEnvelop", {Variant(m.sealed)}, true, zhang, -1},
      {"QMDecryptEnvelop", {Variant(m.envelope)}, true, zhang, -1},
      {"QMDetachedSign", {text, dn}, false, li, 1},
      {"QMRawSign", {dn}, false, li, 0},
      {"QMSignedAndEncryptedEnvelop", {dn, to}, false, li, 0},
      {"QMAttachedSignByIssuerSN", {sn, issuer}, false, li, 0},
      {"QMAttachedSignBySN", {fixed}, false, fixed_owner, 0},
      {"QMDetachedSignByIssuerSN", {text, sn, issuer}, false, li, 1},
      {"QMDetachedSignBySN", {text, fixed}, false, fixed_owner, 1},
      {"QMUseKeySpecAttachedSign", {dn}, false, li, 0},
      {"QMUseKeySpecDetachedSign", {text, dn}, false, li, 1},
      {"QMUseKeySpecRawSign", {dn}, false, li, 0},
      {"QMUseKeySpecAttachedSignByIssuerSN", {sn, issuer}, false, li, 0},
      {"QMUseKeySpecAttachedSignBySN", {fixed}, false, fixed_owner, 0},
      {"QMUseKeySpecDetachedSignByIssuerSN", {text, sn, issuer}, false, li, 1},
      {"QMUseKeySpecDetachedSignBySN", {text, fixed}, false, fixed_owner, 1},
      {"QMUseKeySpecSignedAndEncryptedEnvelop", {dn, to}, false, li, 0},
      {"QMAdvanceAttachedSign", {dn}, false, li, 0},
      {"QMUseSpecAdvanceAttachedSign", {dn}, false, li, 0},
      {"QMAdvanceDetachedSign", {text, dn}, false, li, 1},
      {"QMUseSpecAdvanceDetachedSign", {text, dn}, false, li, 1},
  };
}

const KeyMemberCall* FindKeyMemberCall(const std::vector<KeyMemberCall>& calls,
                                       std::string_view name) {
  auto it = std::find_if(calls.begin(), calls.end(),
                         [&](const KeyMemberCall& c) { return c.name == name; });
  return it == calls.end() ? nullptr : &*it;
}

}  // namespace quillmark::testing
