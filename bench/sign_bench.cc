// Attached signing and verification of 1 KiB through the control's members
// (QMSetPlainText + QMAttachedSign, QMAttachedVerify: certificate selection
// in MY, the key from its container, Base64, the signer's chain against CA,
// ROOT and the CRLs) against what a developer would write with OpenSSL alone:
// PKCS7_sign without attributes and PKCS7_verify with a store that holds the
// chain, with the same certificate, key and digest (SHA-1). The Advance
// members (QMAdvanceAttachedSign, QMAdvanceAttachedVerify) make the same
// round with the SignedData the control builds and parses itself.
//
// The demonstration PKI is made once per run in a temporary home.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_certs.h"
#include "common/bytes.h"
#include "control/quillmark_control.h"
#include "demo/demo_pki.h"
#include "platform/os/files.h"
#include "platform/os/home.h"

namespace {

namespace pf = quillmark::platform;
using quillmark::Bytes;

struct Fixture {
  std::string home;
  X509* signer = nullptr;  // Li Si, RSA with a signature key
  EVP_PKEY* key = nullptr;
  std::vector<X509*> chain;  // the RSA root and customer CA

  Fixture() {
    std::string tmpl =
        (std::filesystem::temp_directory_path() / "quillmark-bench-sign-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    home = tmpl;
    pf::SetQuillmarkHome(home);
    std::vector<::quillmark::demo::DemoItem> items;
    std::string error;
    if (!::quillmark::demo::CreateDemoPki(&items, &error)) std::abort();
    // A store folder written less than two seconds ago is listed again on
    // every open, since it may still change within its timestamp tick. In use
    // the stores were written long before anything is signed or verified, so
    // the measurement starts once they have settled.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    ::quillmark::bench::LoadDemoSigner(home, items, &signer, &key, &chain);
  }
  ~Fixture() {
    X509_free(signer);
    EVP_PKEY_free(key);
    for (X509* c : chain) X509_free(c);
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
  }
};

Fixture& TheFixture() {
  static Fixture fixture;
  pf::SetQuillmarkHome(fixture.home);  // other benchmarks use homes of their own
  return fixture;
}

std::u16string Text(std::size_t n) {
  std::u16string text;
  for (std::size_t i = 0; i < n; ++i) text.push_back(static_cast<char16_t>(u'a' + i % 26));
  return text;
}

using quillmark::control::CCorvaneQuillmark;
using SignMember = quillmark::control::HRESULT (CCorvaneQuillmark::*)(std::u16string_view,
                                                                      std::u16string*);
using VerifyMember = quillmark::control::HRESULT (CCorvaneQuillmark::*)(std::u16string_view);

// QMSetPlainText, then |sign| by DN, once per iteration.
void SignThrough(benchmark::State& state, SignMember sign) {
  TheFixture();
  CCorvaneQuillmark control;
  const std::u16string text = Text(static_cast<std::size_t>(state.range(0)));
  std::u16string signature;
  for (auto _ : state) {
    control.QMSetPlainText(text);
    if ((control.*sign)(u"CN=Li Si", &signature) != 0) state.SkipWithError("sign failed");
    benchmark::DoNotOptimize(signature.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// |verify| of one signature made by |sign|, once per iteration.
void VerifyThrough(benchmark::State& state, SignMember sign, VerifyMember verify) {
  TheFixture();
  CCorvaneQuillmark control;
  std::u16string signature;
  control.QMSetPlainText(Text(static_cast<std::size_t>(state.range(0))));
  if ((control.*sign)(u"CN=Li Si", &signature) != 0) state.SkipWithError("sign failed");
  for (auto _ : state) {
    if ((control.*verify)(signature) != 0) state.SkipWithError("verify failed");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_QMAttachedSign(benchmark::State& state) {
  SignThrough(state, &CCorvaneQuillmark::QMAttachedSign);
}
BENCHMARK(BM_QMAttachedSign)->Arg(1024)->Unit(benchmark::kMicrosecond);

void BM_QMAttachedVerify(benchmark::State& state) {
  VerifyThrough(state, &CCorvaneQuillmark::QMAttachedSign, &CCorvaneQuillmark::QMAttachedVerify);
}
BENCHMARK(BM_QMAttachedVerify)->Arg(1024)->Unit(benchmark::kMicrosecond);

// The same round through the Advance members, whose SignedData the control
// builds and parses itself; compared with the same OpenSSL baselines.
void BM_QMAdvanceAttachedSign(benchmark::State& state) {
  SignThrough(state, &CCorvaneQuillmark::QMAdvanceAttachedSign);
}
BENCHMARK(BM_QMAdvanceAttachedSign)->Arg(1024)->Unit(benchmark::kMicrosecond);

void BM_QMAdvanceAttachedVerify(benchmark::State& state) {
  VerifyThrough(state, &CCorvaneQuillmark::QMAdvanceAttachedSign,
                &CCorvaneQuillmark::QMAdvanceAttachedVerify);
}
BENCHMARK(BM_QMAdvanceAttachedVerify)->Arg(1024)->Unit(benchmark::kMicrosecond);

PKCS7* OpenSslSign(const Fixture& f, const std::string& data) {
  BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  int flags = PKCS7_NOATTR | PKCS7_BINARY | PKCS7_PARTIAL;
  PKCS7* p7 = PKCS7_sign(nullptr, nullptr, nullptr, nullptr, flags);
  if (p7 == nullptr || PKCS7_sign_add_signer(p7, f.signer, f.key, EVP_sha1(), flags) == nullptr ||
      PKCS7_final(p7, in, flags) != 1) {
    std::abort();
  }
  BIO_free(in);
  return p7;
}

std::string Ascii(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('a' + i % 26));
  return s;
}

void BM_OpenSSLPkcs7Sign(benchmark::State& state) {
  const Fixture& f = TheFixture();
  const std::string data = Ascii(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    PKCS7* p7 = OpenSslSign(f, data);
    unsigned char* der = nullptr;
    int n = i2d_PKCS7(p7, &der);
    benchmark::DoNotOptimize(n);
    OPENSSL_free(der);
    PKCS7_free(p7);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSSLPkcs7Sign)->Arg(1024)->Unit(benchmark::kMicrosecond);

void BM_OpenSSLPkcs7Verify(benchmark::State& state) {
  const Fixture& f = TheFixture();
  PKCS7* signed_p7 = OpenSslSign(f, Ascii(static_cast<std::size_t>(state.range(0))));
  unsigned char* der = nullptr;
  int n = i2d_PKCS7(signed_p7, &der);
  PKCS7_free(signed_p7);
  X509_STORE* store = X509_STORE_new();
  for (X509* c : f.chain) X509_STORE_add_cert(store, c);
  for (auto _ : state) {
    const unsigned char* p = der;
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, n);
    BIO* out = BIO_new(BIO_s_mem());
    if (PKCS7_verify(p7, nullptr, store, nullptr, out, PKCS7_BINARY) != 1) {
      state.SkipWithError("verify failed");
    }
    BIO_free(out);
    PKCS7_free(p7);
  }
  X509_STORE_free(store);
  OPENSSL_free(der);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSSLPkcs7Verify)->Arg(1024)->Unit(benchmark::kMicrosecond);

}  // namespace
