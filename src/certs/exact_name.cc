#include "certs/exact_name.h"

#include <new>
#include <utility>

#include "certs/dn_text.h"
#include "common/status.h"
#include "platform/names/cert_extension.h"
#include "platform/os/codepage.h"
#include "platform/store/cert_store.h"

namespace quillmark::certs {
namespace {

using platform::CertContextPtr;

platform::CertStore OpenSystemStore(std::u16string_view name) {
  return platform::CertOpenStore(platform::kCertStoreProvSystemW, 0,
                                 platform::kCertSystemStoreCurrentUser, name);
}

// The text the platform's substring search looks for: the DN's display name,
// cut before a " + " so that the first value of a multi-valued RDN is looked
// for alone (the search sees the values joined as "a + b", the DN writes
// "CN=a + O=b").
std::u16string_view SearchKey(std::u16string_view dn) {
  std::u16string_view key = DnDisplayName(dn);
  std::size_t plus = key.find(u" + ");
  return plus == std::u16string_view::npos ? key : key.substr(0, plus);
}

}  // namespace

CertContextPtr FindBySubjectExact(StoreList stores, std::u16string_view dn) {
  try {
    const std::u16string wanted = NormalizeDnCommas(dn);
    const std::u16string_view key = SearchKey(dn);
    std::u16string subject;
    for (const platform::CertStore& store : stores) {
      CertContextPtr cert;
      while ((cert = platform::CertFindCertificateInStore(store, platform::kDefaultEncoding, 0,
                                                          platform::kCertFindSubjectStrW, key,
                                                          cert)) != nullptr) {
        if (platform::CertNameToStrW(platform::kDefaultEncoding, cert->subject_der(),
                                     platform::kCertX500NameStr, &subject) &&
            subject == wanted) {
          return cert;
        }
      }
    }
  } catch (const std::bad_alloc&) {
  }
  return nullptr;
}

int CertExistsInStores(std::u16string_view dn) {
  platform::CertStore my = OpenSystemStore(u"MY");
  if (!my) return kErrStoreOpen;
  int found = 0;
  if (!dn.empty()) {
    StoreList stores(&my, 1);
    CertContextPtr cert = FindBySubjectExact(stores, dn);
    if (cert == nullptr) {
      try {
        cert = FindBySubjectExact(stores, ReverseDn(dn));
      } catch (const std::bad_alloc&) {
      }
    }
    found = cert != nullptr ? 1 : 0;
  }
  platform::CertCloseStore(my, platform::kCertCloseStoreCheckFlag);
  return found;
}

int EnumCertsByIssuer(StoreList stores, std::u16string_view issuer_dn,
                      std::vector<std::u16string>* subjects) {
  try {
    const std::u16string wanted = NormalizeDnCommas(issuer_dn);
    const std::u16string_view key = SearchKey(issuer_dn);
    std::vector<std::u16string> found;
    std::u16string issuer;
    for (const platform::CertStore& store : stores) {
      CertContextPtr cert;
      while ((cert = platform::CertFindCertificateInStore(store, platform::kDefaultEncoding, 0,
                                                          platform::kCertFindIssuerStrW, key,
                                                          cert)) != nullptr) {
        if (!platform::CertNameToStrW(platform::kDefaultEncoding, cert->issuer_der(),
                                      platform::kCertX500NameStr, &issuer) ||
            issuer != wanted) {
          continue;
        }
        std::u16string subject;
        if (platform::CertNameToStrW(platform::kDefaultEncoding, cert->subject_der(),
                                     platform::kCertX500NameStr, &subject)) {
          found.push_back(std::move(subject));
        }
      }
    }
    subjects->reserve(subjects->size() + found.size());
    for (std::u16string& s : found) subjects->push_back(std::move(s));
    return static_cast<int>(subjects->size());
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
}

int GetCertExtensionText(std::u16string_view dn, std::u16string_view oid, std::uint32_t code_page,
                         std::u16string* text) {
  text->clear();
  try {
    std::vector<platform::CertStore> stores;
    for (std::u16string_view name : kExtensionStores) {
      stores.push_back(OpenSystemStore(name));
      if (!stores.back()) return kErrStoreOpen;
    }
    CertContextPtr cert = FindBySubjectExact(stores, dn);
    if (cert == nullptr) return kErrCertNotFound;
    Bytes oid_bytes;
    if (platform::WideCharToMultiByte(code_page, oid, platform::TextLength::kNulTerminated,
                                      &oid_bytes) == 0) {
      return kErrTextToBytes;
    }
    // Up to the terminator the conversion wrote.
    std::string_view oid_text = AsChars(oid_bytes);
    oid_text = oid_text.substr(0, oid_text.find('\0'));
    const platform::CertExtension* extension =
        platform::CertFindExtension(oid_text, cert->extensions());
    if (extension == nullptr) return kErrNoExtension;
    if (!platform::CryptFormatObject(platform::kX509AsnEncoding, 0,
                                     platform::kCryptFormatStrSingleLine, extension->oid,
                                     extension->value, text)) {
      text->clear();
      return kErrCertFieldUndecodable;
    }
    return kOk;
  } catch (const std::bad_alloc&) {
    text->clear();
    return kErrNoMemory;
  }
}

}  // namespace quillmark::certs
