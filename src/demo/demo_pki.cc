#include "demo/demo_pki.h"

#include <new>
#include <sstream>
#include <utility>

#include "common/hex.h"
#include "common/unicode.h"
#include "platform/keys/cert_issuer.h"
#include "platform/keys/key_import.h"
#include "platform/keys/key_provider.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::demo {

namespace pf = ::quillmark::platform;

namespace {

constexpr char kManifestName[] = "demo.manifest";
constexpr int kRootDays = 20 * 365;
constexpr int kCaDays = 10 * 365;
constexpr int kUserDays = 2 * 365;
constexpr int kCrlDays = 30;
constexpr char kCustomerCrlUrl[] = "http://pki.demobank.example/crl/customer-ca.crl";
constexpr char kSm2CustomerCrlUrl[] = "http://pki.demobank.example/crl/sm2-customer-ca.crl";

using Names = std::vector<std::pair<std::string, std::string>>;

Names BankName(std::string cn, std::string ou = "") {
  Names names = {{"CN", std::move(cn)}};
  if (!ou.empty()) names.emplace_back("OU", std::move(ou));
  names.emplace_back("O", "Demo Bank");
  names.emplace_back("C", "CN");
  return names;
}

pf::CertStore OpenStore(std::string_view name, std::uint32_t extra_flags = 0) {
  return pf::CertOpenStore(pf::kCertStoreProvSystemW, pf::kDefaultEncoding,
                           pf::kCertSystemStoreCurrentUser | extra_flags, Utf8ToUtf16Lossy(name));
}

bool HexToBytes(std::string_view hex, Bytes* out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned v = 0;
    for (char c : hex.substr(i, 2)) {
      int d = HexDigitValue(static_cast<unsigned char>(c));
      if (d < 0 || (c >= 'a' && c <= 'f')) return false;  // written in upper case only
      v = v * 16 + static_cast<unsigned>(d);
    }
    out->push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

// Removes what a manifest lists; entries already gone are fine.
void RemoveListed(const std::string& manifest_path) {
  Bytes data;
  if (!pf::ReadWholeFile(manifest_path, &data)) return;
  std::istringstream lines{std::string(AsChars(data))};
  for (std::string line; std::getline(lines, line);) {
    size_t tab1 = line.find('\t');
    size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    std::string kind = line.substr(0, tab1);
    if (kind == "container" && tab1 != std::string::npos) {
      pf::ProvHandle gone;
      pf::CryptAcquireContextW(&gone, Utf8ToUtf16Lossy(line.substr(tab1 + 1)),
                               pf::kSoftwareProviderName, pf::kProvRsaFull, pf::kCryptDeleteKeyset);
      continue;
    }
    if (tab2 == std::string::npos) continue;
    std::string store_name = line.substr(tab1 + 1, tab2 - tab1 - 1);
    std::string thumb = line.substr(tab2 + 1);
    pf::CertStore store = OpenStore(store_name, pf::kCertStoreOpenExistingFlag);
    if (!store) continue;
    Bytes sha1;
    if (kind == "cert" && HexToBytes(thumb, &sha1)) {
      if (pf::CertContextPtr c = CertFindCertificateInStore(
              store, pf::kDefaultEncoding, 0, pf::kCertFindSha1Hash, ByteSpan(sha1), nullptr)) {
        pf::CertDeleteCertificateFromStore(c);
      }
    } else if (kind == "crl") {
      for (pf::CrlContextPtr c = pf::CertEnumCRLsInStore(store, nullptr); c;
           c = pf::CertEnumCRLsInStore(store, c)) {
        if (c->thumbprint() == thumb) {
          pf::CertDeleteCRLFromStore(c);
          break;
        }
      }
    }
  }
  pf::RemoveFile(manifest_path);
}

// Issues and stores the demonstration objects, recording each in the manifest
// as soon as it exists.
class DemoBuilder {
 public:
  DemoBuilder(std::string manifest_path, std::vector<DemoItem>* created, std::string* error)
      : manifest_path_(std::move(manifest_path)), created_(created), error_(error) {}

  bool Fail(const std::string& what) {
    *error_ = what;
    return false;
  }

  // Issues a certificate; |key| receives its new key pair.
  bool Issue(pf::IssueRequest request, bool sm2, pf::IssuingKey* key, Bytes* cert) {
    *key = sm2 ? pf::IssuingKey::GenerateSm2() : pf::IssuingKey::GenerateRsa(2048);
    if (!*key) return Fail("cannot generate a key pair");
    request.subject_key = key;
    if (!pf::IssueCertificate(request, cert)) {
      return Fail("cannot issue the certificate of " + request.subject[0].second);
    }
    return true;
  }

  // Adds a certificate without a key.
  bool AddCertificate(const char* store_name, const char* role, const Bytes& der) {
    pf::CertStore store = OpenStore(store_name);
    pf::CertContextPtr added;
    if (!store || !pf::CertAddEncodedCertificateToStore(store, pf::kDefaultEncoding, der,
                                                        pf::kCertStoreAddReplaceExisting, &added)) {
      return Fail(std::string("cannot write to store ") + store_name);
    }
    return Record(store, role, *added, nullptr);
  }

  // Adds a certificate with its private key in a new container.
  bool AddCertificateWithKey(const char* store_name, const char* role, const Bytes& cert,
                             const pf::IssuingKey& key, std::uint32_t spec,
                             pf::CertContextPtr* added) {
    pf::CertificateWithKey pair;
    if (!key.PrivateKeyInfo(&pair.pkcs8_der)) return Fail("cannot encode a key");
    pair.cert_der = cert;
    pf::CertStore store = OpenStore(store_name);
    if (!store ||
        pf::ImportCertificateWithKey(store, pair, spec, added) != pf::ImportError::kNone) {
      return Fail(std::string("cannot store a key and certificate in ") + store_name);
    }
    std::optional<pf::KeyProvInfo> info = (*added)->key_prov_info();
    if (!info || !Append("container\t" + Utf16ToUtf8Lossy(info->container))) {
      return Fail("cannot write " + manifest_path_);
    }
    return Record(store, role, **added, &*info);
  }

  // Adds a copy of a stored certificate, with its key-provider property.
  bool AddCopy(const char* store_name, const char* role, const pf::CertContextPtr& cert) {
    pf::CertStore store = OpenStore(store_name);
    pf::CertContextPtr added;
    if (!store || !pf::CertAddCertificateContextToStore(store, cert,
                                                        pf::kCertStoreAddReplaceExisting, &added)) {
      return Fail(std::string("cannot write to store ") + store_name);
    }
    std::optional<pf::KeyProvInfo> info = added->key_prov_info();
    return Record(store, role, *added, info ? &*info : nullptr);
  }

  bool AddCrl(const char* store_name, const pf::CrlRequest& request) {
    Bytes der;
    pf::CertStore store = OpenStore(store_name);
    pf::CrlContextPtr added;
    if (!pf::IssueCrl(request, &der)) return Fail("cannot issue a CRL");
    if (!store || !pf::CertAddEncodedCRLToStore(store, pf::kDefaultEncoding, der,
                                                pf::kCertStoreAddReplaceExisting, &added)) {
      return Fail(std::string("cannot write to store ") + store_name);
    }
    if (!Append("crl\t" + store.name() + "\t" + added->thumbprint())) {
      return Fail("cannot write " + manifest_path_);
    }
    DemoItem item;
    item.store = store.name();
    item.role = "CRL";
    pf::CertNameToStrW(pf::kDefaultEncoding, added->issuer_der(), pf::kCertX500NameStr, &item.name);
    item.thumbprint = added->thumbprint();
    created_->push_back(std::move(item));
    return true;
  }

 private:
  bool Append(const std::string& line) {
    manifest_ += line + "\n";
    return pf::WriteFileAtomically(manifest_path_, AsBytes(manifest_), 0600);
  }

  bool Record(const pf::CertStore& store, const char* role, const pf::CertContext& cert,
              const pf::KeyProvInfo* info) {
    if (!Append("cert\t" + store.name() + "\t" + cert.thumbprint())) {
      return Fail("cannot write " + manifest_path_);
    }
    DemoItem item;
    item.store = store.name();
    item.role = role;
    pf::CertNameToStrW(pf::kDefaultEncoding, cert.subject_der(), pf::kCertX500NameStr, &item.name);
    item.thumbprint = cert.thumbprint();
    if (info != nullptr) {
      item.container = info->container;
      item.key_spec = info->key_spec;
    }
    created_->push_back(std::move(item));
    return true;
  }

  std::string manifest_path_;
  std::string manifest_;
  std::vector<DemoItem>* created_;
  std::string* error_;
};

struct Authority {
  pf::IssuingKey key;
  Bytes cert;
};

pf::IssueRequest CaRequest(Names subject, const Authority* parent, int days, int path_length) {
  pf::IssueRequest r;
  r.subject = std::move(subject);
  if (parent != nullptr) {
    r.issuer_cert = parent->cert;
    r.issuer_key = &parent->key;
  }
  r.days_valid = days;
  r.ca = true;
  r.path_length = path_length;
  r.key_usage = "keyCertSign,cRLSign,digitalSignature";
  return r;
}

pf::IssueRequest UserRequest(Names subject, const Authority& issuer, const char* key_usage,
                             const char* email, const char* crl_url) {
  pf::IssueRequest r;
  r.subject = std::move(subject);
  r.issuer_cert = issuer.cert;
  r.issuer_key = &issuer.key;
  r.days_valid = kUserDays;
  r.key_usage = key_usage;
  r.extended_key_usage = "clientAuth,emailProtection";
  r.email = email;
  r.crl_url = crl_url;
  return r;
}

pf::CrlRequest RevocationList(const Authority& issuer, std::vector<ByteSpan> revoked) {
  pf::CrlRequest r;
  r.issuer_cert = issuer.cert;
  r.issuer_key = &issuer.key;
  r.revoked = std::move(revoked);
  r.days_valid = kCrlDays;
  return r;
}

constexpr char kExchangeUsage[] = "digitalSignature,nonRepudiation,keyEncipherment";
constexpr char kSignatureUsage[] = "digitalSignature,nonRepudiation";
constexpr char kRecipientUsage[] = "digitalSignature,keyEncipherment";

// The four authorities: an RSA and an SM2 root, each with one customer CA.
struct Authorities {
  Authority root, customer, sm2_root, sm2_customer;
};

bool BuildAuthorities(DemoBuilder& b, Authorities* a) {
  return b.Issue(CaRequest(BankName("Demo Bank Root CA"), nullptr, kRootDays, -1), false,
                 &a->root.key, &a->root.cert) &&
         b.AddCertificate("ROOT", "root CA", a->root.cert) &&
         b.Issue(CaRequest(BankName("Demo Bank Customer CA", "Certification Services"), &a->root,
                           kCaDays, 0),
                 false, &a->customer.key, &a->customer.cert) &&
         b.AddCertificate("CA", "intermediate CA", a->customer.cert) &&
         b.Issue(CaRequest(BankName("Demo Bank SM2 Root CA"), nullptr, kRootDays, -1), true,
                 &a->sm2_root.key, &a->sm2_root.cert) &&
         b.AddCertificate("ROOT", "root CA", a->sm2_root.cert) &&
         b.Issue(CaRequest(BankName("Demo Bank SM2 Customer CA", "Certification Services"),
                           &a->sm2_root, kCaDays, 0),
                 true, &a->sm2_customer.key, &a->sm2_customer.cert) &&
         b.AddCertificate("CA", "intermediate CA", a->sm2_customer.cert);
}

struct User {
  const char* role;
  const char* cn;
  const char* ou;
  const char* email;
  std::uint32_t spec;
  bool sm2;
  pf::IssuingKey key;
  Bytes cert;
  pf::CertContextPtr stored;
};

// A user of one of the customer CAs, stored in MY with its key.
bool BuildUser(DemoBuilder& b, const Authorities& a, User* u) {
  const Authority& issuer = u->sm2 ? a.sm2_customer : a.customer;
  const char* usage = u->spec == pf::kAtKeyExchange ? kExchangeUsage : kSignatureUsage;
  return b.Issue(UserRequest(BankName(u->cn, u->ou), issuer, usage, u->email,
                             u->sm2 ? kSm2CustomerCrlUrl : kCustomerCrlUrl),
                 u->sm2, &u->key, &u->cert) &&
         b.AddCertificateWithKey("MY", u->role, u->cert, u->key, u->spec, &u->stored);
}

// Recipients without keys in AddressBook.
bool BuildRecipients(DemoBuilder& b, const Authorities& a) {
  struct Recipient {
    const char* cn;
    const char* ou;
    const char* email;
  };
  for (const Recipient& r :
       {Recipient{"钱七", "Personal", "qianqi@demobank.example"},
        Recipient{"Merchant Payments", "Merchant Services", "payments@demobank.example"}}) {
    pf::IssuingKey key;
    Bytes cert;
    if (!b.Issue(UserRequest(BankName(r.cn, r.ou), a.customer, kRecipientUsage, r.email,
                             kCustomerCrlUrl),
                 false, &key, &cert) ||
        !b.AddCertificate("AddressBook", "recipient", cert)) {
      return false;
    }
  }
  return true;
}

bool Build(DemoBuilder& b) {
  Authorities a;
  if (!BuildAuthorities(b, &a)) return false;
  User zhang{"user", "张三", "Personal", "zhangsan@demobank.example", pf::kAtKeyExchange, false,
             {},     {},     {}};
  User li{"user", "Li Si", "Corporate", "lisi@demobank.example", pf::kAtSignature, false,
          {},     {},      {}};
  User wang{"revoked user",
            "王五",
            "Personal",
            "wangwu@demobank.example",
            pf::kAtKeyExchange,
            false,
            {},
            {},
            {}};
  User zhao{"user", "赵六", "Personal", "zhaoliu@demobank.example", pf::kAtSignature, true,
            {},     {},     {}};
  for (User* u : {&zhang, &li, &wang, &zhao}) {
    if (!BuildUser(b, a, u)) return false;
  }
  if (!b.AddCopy("SM2", "user", zhao.stored) || !BuildRecipients(b, a) ||
      !b.AddCertificate("AddressBook", "recipient", zhang.cert) ||
      !b.AddCertificate("AddressBook", "recipient", li.cert)) {
    return false;
  }
  // CRLs of the RSA authorities only: OpenSSL 3.0 checks a CRL signed with
  // SM2 with an empty user ID, not with the ID every SM2 signature here uses.
  return b.AddCrl("ROOT", RevocationList(a.root, {})) &&
         b.AddCrl("CA", RevocationList(a.customer, {ByteSpan(wang.cert)}));
}

}  // namespace

bool CreateDemoPki(std::vector<DemoItem>* created, std::string* error) {
#ifdef _WIN32
  // Windows keeps certificates in the user's own system stores, where a
  // demonstration root would become trusted, and has no SM2 without a
  // vendor's provider: nothing is written there.
  created->clear();
  *error =
      "the demonstration PKI is not made on Windows: the certificate stores are the user's own "
      "system stores, and its SM2 authorities need a vendor's cryptographic provider";
  return false;
#endif
  std::string home = pf::QuillmarkHome();
  if (home.empty()) {
    *error = "cannot create the home folder";
    return false;
  }
  std::string manifest_path = home + "/" + kManifestName;
  try {
    RemoveListed(manifest_path);
    created->clear();
    DemoBuilder builder(manifest_path, created, error);
    return Build(builder);
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    return false;
  }
}

}  // namespace quillmark::demo
