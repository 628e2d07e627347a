#include "bench_certs.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>

#include "platform/os/files.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"

namespace quillmark::bench {

namespace {

namespace pf = quillmark::platform;

void AddEntry(X509_NAME* name, const char* field, const std::string& value) {
  X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(value.data()),
                             static_cast<int>(value.size()), -1, 0);
}

}  // namespace

void MakeBenchCertificates(const std::string& folder, int count, bool with_key_properties) {
  std::string done = folder + "/.complete";
  if (pf::IsRegularFile(done)) return;
  pf::MakeDirectories(folder);
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509_NAME* issuer = X509_NAME_new();
  AddEntry(issuer, "C", "CN");
  AddEntry(issuer, "O", "Bench Bank");
  AddEntry(issuer, "CN", "Bench Issuing CA");
  for (int i = 0; i < count; ++i) {
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 100000 + i);
    X509_NAME* subject = X509_NAME_new();
    AddEntry(subject, "C", "CN");
    AddEntry(subject, "O", "Bank, Branch " + std::to_string(i % 97));
    AddEntry(subject, "OU", "Retail");
    AddEntry(subject, "CN", "User " + std::to_string(i) + " 张三");
    AddEntry(subject, "emailAddress", "user" + std::to_string(i) + "@bank.example");
    X509_set_subject_name(x, subject);
    X509_set_issuer_name(x, issuer);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 365L * 24 * 3600);
    X509_set_pubkey(x, key);
    X509_sign(x, key, EVP_sha256());
    unsigned char* der = nullptr;
    int len = i2d_X509(x, &der);
    // Written straight into the folder: adding through the store would list
    // the growing folder once per certificate.
    ByteSpan bytes(der, static_cast<std::size_t>(len));
    pf::CertContextPtr ctx = pf::CertCreateCertificateContext(pf::kDefaultEncoding, bytes);
    std::string base = folder + "/" + ctx->thumbprint();
    pf::WriteFileAtomically(base + ".cer", bytes);
    if (with_key_properties) {
      std::string prop = "container=bench-" + ctx->thumbprint() +
                         "\nprovider=Quillmark Software Provider\nprovider_type=1\nflags=0\n"
                         "key_spec=1\n";
      pf::WriteFileAtomically(base + ".keyprov", AsBytes(prop));
    }
    OPENSSL_free(der);
    X509_NAME_free(subject);
    X509_free(x);
  }
  X509_NAME_free(issuer);
  EVP_PKEY_free(key);
  pf::ClearCertStoreCache();
  pf::WriteFileAtomically(done, AsBytes("ok\n"));
}

std::vector<Bytes> ReadBenchCertificates(const std::string& folder) {
  std::vector<Bytes> files;
  for (const std::string& name : pf::ListDirectory(folder)) {
    if (!name.ends_with(".cer")) continue;
    Bytes der;
    if (pf::ReadWholeFile(folder + "/" + name, &der)) files.push_back(std::move(der));
  }
  return files;
}

namespace {

X509* ReadCert(const std::string& path) {
  Bytes der;
  if (!platform::ReadWholeFile(path, &der)) std::abort();
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x == nullptr) std::abort();
  return x;
}

}  // namespace

void LoadDemoSigner(const std::string& home, const std::vector<demo::DemoItem>& items,
                    X509** signer, EVP_PKEY** key, std::vector<X509*>* chain) {
  for (const demo::DemoItem& item : items) {
    bool rsa = item.name.find(u"SM2") == std::u16string::npos;
    std::string cer = home + "/stores/" + item.store + "/" + item.thumbprint + ".cer";
    if (item.store == "MY" && item.name.starts_with(u"CN=Li Si")) {
      *signer = ReadCert(cer);
      Bytes pem;
      std::string path;
      for (char16_t c : item.container) path.push_back(static_cast<char>(c));
      if (!platform::ReadWholeFile(home + "/keys/" + path + "/signature.pem", &pem)) std::abort();
      BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
      *key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
      BIO_free(bio);
    } else if (rsa && (item.role == "root CA" || item.role == "intermediate CA")) {
      chain->push_back(ReadCert(cer));
    }
  }
  if (*signer == nullptr || *key == nullptr || chain->size() != 2) std::abort();
}

}  // namespace quillmark::bench
