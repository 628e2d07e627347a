// Selecting one certificate by DN in a MY store of 10,000 certificates with
// key-provider properties, against what a developer would write instead: the
// store's own subject-string find, and scanning the DER files with OpenSSL
// alone (parse, print the subject, search it).
//
// The store is made once and kept under /tmp, keyed by a version string.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_certs.h"
#include "certs/selection.h"
#include "common/bytes.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"

namespace {

namespace pf = quillmark::platform;
namespace certs = quillmark::certs;
using quillmark::Bytes;

constexpr char kFixtureVersion[] = "v2";
constexpr int kCount = 10000;
// Matches exactly one certificate: "User 4321 " is followed by its CN's end.
constexpr char16_t kDn[] = u"CN=User 4321 张三";
constexpr char kDnUtf8[] = "CN=User 4321 张三";

std::string FixtureHome() {
  return std::string("/tmp/quillmark-bench-select-") + kFixtureVersion + "-" +
         std::to_string(kCount);
}

std::string StoreFolder() { return FixtureHome() + "/stores/MY"; }

pf::CertStore OpenMy() {
  return pf::CertOpenStore(pf::kCertStoreProvSystemW, pf::kDefaultEncoding,
                           pf::kCertSystemStoreCurrentUser, u"MY");
}

// Writes kCount certificates, each with a key-provider property, unless a
// previous run did.
void MakeFixture() { quillmark::bench::MakeBenchCertificates(StoreFolder(), kCount, true); }

std::vector<Bytes> ReadCertificateFiles() {
  return quillmark::bench::ReadBenchCertificates(StoreFolder());
}

const certs::ChooserTexts& Texts() {
  static const certs::ChooserTexts texts{u"请选择您要用的证书",
                                         u"请在列表中选择证书",
                                         u"主题",
                                         u"颁发者",
                                         u"截止日期",
                                         u"确定",
                                         u"取消",
                                         u"查看",
                                         u"Quillmark"};
  return texts;
}

void SelectOnce(const pf::CertStore& store, benchmark::State& state) {
  pf::CertContextPtr got = certs::SelectCertificate({&store, 1}, {.dn = kDn}, Texts());
  if (!got) state.SkipWithError("the DN selected nothing");
  benchmark::DoNotOptimize(got);
}

// Warm: the store's certificates are parsed and cached; each call walks them
// all, checks the key property and renders every subject.
void BM_SelectByDn(benchmark::State& state) {
  MakeFixture();
  pf::SetQuillmarkHome(FixtureHome());
  pf::ClearCertStoreCache();
  pf::CertStore store = OpenMy();
  SelectOnce(store, state);
  for (auto _ : state) SelectOnce(store, state);
  pf::ClearCertStoreCache();
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_SelectByDn)->Arg(kCount)->Unit(benchmark::kMillisecond);

// Cold: the cache is dropped first, so every file is read and parsed again.
void BM_SelectByDnCold(benchmark::State& state) {
  MakeFixture();
  pf::SetQuillmarkHome(FixtureHome());
  for (auto _ : state) {
    pf::ClearCertStoreCache();
    pf::CertStore store = OpenMy();
    SelectOnce(store, state);
  }
  pf::ClearCertStoreCache();
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_SelectByDnCold)->Arg(kCount)->Unit(benchmark::kMillisecond);

// The store's own find by subject string (case-insensitive, values only)
// over the whole store, warm.
void BM_CertFindSubjectStr(benchmark::State& state) {
  MakeFixture();
  pf::SetQuillmarkHome(FixtureHome());
  pf::ClearCertStoreCache();
  pf::CertStore store = OpenMy();
  for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
       c = pf::CertEnumCertificatesInStore(store, c)) {
  }
  for (auto _ : state) {
    int found = 0;
    for (pf::CertContextPtr c = pf::CertFindCertificateInStore(
             store, pf::kDefaultEncoding, 0, pf::kCertFindSubjectStrW, u"User 4321 张三", nullptr);
         c; c = pf::CertFindCertificateInStore(store, pf::kDefaultEncoding, 0,
                                               pf::kCertFindSubjectStrW, u"User 4321 张三", c)) {
      ++found;
    }
    if (found != 1) state.SkipWithError("the find did not give one certificate");
  }
  pf::ClearCertStoreCache();
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_CertFindSubjectStr)->Arg(kCount)->Unit(benchmark::kMillisecond);

// OpenSSL alone on certificates already parsed: print each subject in the
// same "CN=..., E=..." form order and search it.
int ScanSubjects(const std::vector<X509*>& parsed, BIO* bio) {
  int found = 0;
  for (X509* x : parsed) {
    BIO_reset(bio);
    X509_NAME_print_ex(
        bio, X509_get_subject_name(x), 0,
        (XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SPC_EQ) | XN_FLAG_SEP_COMMA_PLUS);
    char* text = nullptr;
    long len = BIO_get_mem_data(bio, &text);
    if (memmem(text, static_cast<std::size_t>(len), kDnUtf8, sizeof kDnUtf8 - 1) != nullptr) {
      ++found;
    }
  }
  return found;
}

void BM_OpenSslScanParsed(benchmark::State& state) {
  MakeFixture();
  std::vector<Bytes> files = ReadCertificateFiles();
  std::vector<X509*> parsed;
  for (const Bytes& der : files) {
    const unsigned char* p = der.data();
    parsed.push_back(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  }
  BIO* bio = BIO_new(BIO_s_mem());
  for (auto _ : state) {
    if (ScanSubjects(parsed, bio) != 1) state.SkipWithError("the scan did not find one");
  }
  BIO_free(bio);
  for (X509* x : parsed) X509_free(x);
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_OpenSslScanParsed)->Arg(kCount)->Unit(benchmark::kMillisecond);

// OpenSSL alone from the files: read, parse, print, search.
void BM_OpenSslScanFiles(benchmark::State& state) {
  MakeFixture();
  BIO* bio = BIO_new(BIO_s_mem());
  for (auto _ : state) {
    std::vector<X509*> parsed;
    for (const Bytes& der : ReadCertificateFiles()) {
      const unsigned char* p = der.data();
      parsed.push_back(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    }
    if (ScanSubjects(parsed, bio) != 1) state.SkipWithError("the scan did not find one");
    for (X509* x : parsed) X509_free(x);
  }
  BIO_free(bio);
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_OpenSslScanFiles)->Arg(kCount)->Unit(benchmark::kMillisecond);

}  // namespace
