// Enumerating a store of 10,000 certificates and rendering every subject,
// against parsing the same DER files with d2i_X509 alone.
//
// The certificates are made once (one P-256 issuer key) and kept under
// /tmp, keyed by a version string, so later runs start at once.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/cert_context.h"
#include "platform/cert_context_internal.h"
#include "platform/cert_store.h"
#include "platform/files.h"
#include "platform/home.h"

namespace {

namespace pf = quillmark::platform;
using quillmark::Bytes;

constexpr char kFixtureVersion[] = "v1";
constexpr int kCount = 10000;

std::string FixtureHome() {
  return std::string("/tmp/quillmark-bench-certs-") + kFixtureVersion + "-" +
         std::to_string(kCount);
}

std::string StoreFolder() { return FixtureHome() + "/stores/BENCH"; }

void AddEntry(X509_NAME* name, const char* field, const std::string& value) {
  X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(value.data()),
                             static_cast<int>(value.size()), -1, 0);
}

// Writes kCount certificates with varied subjects, unless a previous run did.
void MakeFixture() {
  std::string done = FixtureHome() + "/complete";
  if (pf::IsRegularFile(done)) return;
  pf::MakeDirectories(StoreFolder());
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509_NAME* issuer = X509_NAME_new();
  AddEntry(issuer, "C", "CN");
  AddEntry(issuer, "O", "Bench Bank");
  AddEntry(issuer, "CN", "Bench Issuing CA");
  for (int i = 0; i < kCount; ++i) {
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
    pf::CertContextPtr ctx =
        pf::CertCreateCertificateContext(pf::kDefaultEncoding, quillmark::ByteSpan(der, len));
    pf::WriteFileAtomically(StoreFolder() + "/" + ctx->thumbprint() + ".cer",
                            quillmark::ByteSpan(der, len));
    OPENSSL_free(der);
    X509_NAME_free(subject);
    X509_free(x);
  }
  X509_NAME_free(issuer);
  EVP_PKEY_free(key);
  pf::WriteFileAtomically(done, quillmark::AsBytes("ok\n"));
}

std::vector<Bytes> ReadFixtureFiles() {
  std::vector<Bytes> files;
  for (const std::string& name : pf::ListDirectory(StoreFolder())) {
    Bytes der;
    if (pf::ReadWholeFile(StoreFolder() + "/" + name, &der)) files.push_back(std::move(der));
  }
  return files;
}

// Cold: the cache is dropped every iteration, so every file is read, parsed
// and its subject rendered.
void BM_EnumerateAndRenderSubjects(benchmark::State& state) {
  MakeFixture();
  pf::SetQuillmarkHome(FixtureHome());
  std::u16string subject;
  std::size_t chars = 0;
  for (auto _ : state) {
    pf::ClearCertStoreCache();
    pf::CertStore store = pf::CertOpenStore(pf::kCertStoreProvSystemW, pf::kDefaultEncoding,
                                            pf::kCertSystemStoreCurrentUser, u"BENCH");
    std::int64_t n = 0;
    for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
         c = pf::CertEnumCertificatesInStore(store, c)) {
      pf::CertNameToStrW(pf::kDefaultEncoding, c->subject_der(), pf::kCertX500NameStr, &subject);
      chars += subject.size();
      ++n;
    }
    if (n != state.range(0)) state.SkipWithError("store does not hold the fixture");
  }
  benchmark::DoNotOptimize(chars);
  pf::ClearCertStoreCache();
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EnumerateAndRenderSubjects)->Arg(kCount)->Unit(benchmark::kMillisecond);

// Warm: the store is already cached; a walk checks the folder once.
void BM_EnumerateAndRenderSubjectsWarm(benchmark::State& state) {
  MakeFixture();
  pf::SetQuillmarkHome(FixtureHome());
  pf::ClearCertStoreCache();
  std::u16string subject;
  std::size_t chars = 0;
  pf::CertStore store = pf::CertOpenStore(pf::kCertStoreProvSystemW, pf::kDefaultEncoding,
                                          pf::kCertSystemStoreCurrentUser, u"BENCH");
  for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
       c = pf::CertEnumCertificatesInStore(store, c)) {
  }
  for (auto _ : state) {
    for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
         c = pf::CertEnumCertificatesInStore(store, c)) {
      pf::CertNameToStrW(pf::kDefaultEncoding, c->subject_der(), pf::kCertX500NameStr, &subject);
      chars += subject.size();
    }
  }
  benchmark::DoNotOptimize(chars);
  pf::ClearCertStoreCache();
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EnumerateAndRenderSubjectsWarm)->Arg(kCount)->Unit(benchmark::kMillisecond);

// The bare parse: d2i_X509 over the DER bytes already in memory.
void BM_D2iX509Only(benchmark::State& state) {
  MakeFixture();
  std::vector<Bytes> files = ReadFixtureFiles();
  if (files.size() != static_cast<std::size_t>(state.range(0))) {
    state.SkipWithError("fixture incomplete");
  }
  for (auto _ : state) {
    for (const Bytes& der : files) {
      const unsigned char* p = der.data();
      X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
      benchmark::DoNotOptimize(x);
      X509_free(x);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_D2iX509Only)->Arg(kCount)->Unit(benchmark::kMillisecond);

// The bare parse with the file reads a store walk has to do as well.
void BM_ReadFilesAndD2iX509(benchmark::State& state) {
  MakeFixture();
  for (auto _ : state) {
    std::int64_t n = 0;
    Bytes der;
    for (const std::string& name : pf::ListDirectory(StoreFolder())) {
      if (!pf::ReadWholeFile(StoreFolder() + "/" + name, &der)) continue;
      const unsigned char* p = der.data();
      X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
      benchmark::DoNotOptimize(x);
      X509_free(x);
      ++n;
    }
    if (n != state.range(0)) state.SkipWithError("fixture incomplete");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadFilesAndD2iX509)->Arg(kCount)->Unit(benchmark::kMillisecond);

}  // namespace
