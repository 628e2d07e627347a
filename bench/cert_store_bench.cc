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

#include "bench_certs.h"
#include "common/bytes.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"

namespace {

namespace pf = quillmark::platform;
using quillmark::Bytes;

constexpr char kFixtureVersion[] = "v2";
constexpr int kCount = 10000;

std::string FixtureHome() {
  return std::string("/tmp/quillmark-bench-certs-") + kFixtureVersion + "-" +
         std::to_string(kCount);
}

std::string StoreFolder() { return FixtureHome() + "/stores/BENCH"; }

// Writes kCount certificates with varied subjects, unless a previous run did.
void MakeFixture() { quillmark::bench::MakeBenchCertificates(StoreFolder(), kCount, false); }

std::vector<Bytes> ReadFixtureFiles() {
  return quillmark::bench::ReadBenchCertificates(StoreFolder());
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
      if (!name.ends_with(".cer") || !pf::ReadWholeFile(StoreFolder() + "/" + name, &der)) {
        continue;  // the fixture's completion mark
      }
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
