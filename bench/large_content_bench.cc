// Signing and verifying large content through the control's members against
// the bare work a program of the user's own would do with OpenSSL and zlib.
//
//   BM_LargeFileSign/N    QMAddFile of an N-byte file, then QMAttachedSign
//   BM_LargeFileVerify/N  QMAttachedVerify of that signature text
//   BM_LargeTextSign/N    QMSetPlainText of a text of N bytes as the caller
//                         holds it (N / 2 UTF-16 units, ASCII, so N / 2
//                         content bytes), then QMAttachedSign
//   BM_LargeTextVerify/N  QMAttachedVerify of that signature text
//   BM_BareSign/N         the same content (file: read from the same file;
//                         text: the N / 2 content bytes) signed with
//                         PKCS7_sign (no attributes, SHA-1, the same signer),
//                         the DER deflated into the same gzip frame, then
//                         Base64 with 64-character lines
//   BM_BareVerify/N       Base64 decoding, inflating, d2i_PKCS7 and
//                         PKCS7_verify against a store holding the chain,
//                         the content written to a memory BIO
// The file and text pairs differ in N, so each bare run is measured beside
// its own member run. Each run is one iteration (make bench repeats it three
// times and compares the medians).
//
// Memory: malloc, calloc, realloc, the aligned allocators and free are
// replaced in this binary by versions that keep a count of the bytes live
// (as malloc_usable_size reports them, so OpenSSL, zlib and the C++ library
// are counted too) and its highest value. Each benchmark records the live
// count just before the measured calls and reports peak_ratio = (highest
// count during the calls - that start) / N. Counted: everything the calls
// allocate, including what they hand back (the signature text, the verified
// content). Not counted: what the caller held before the calls (the text
// passed to QMSetPlainText, the signature text passed to the verification;
// for the bare runs the content bytes or the Base64 text they start from).
// A file is on disk before either side reads it, so its bytes are counted on
// both sides. Builds with a sanitizer keep their own allocator and report no
// peak_ratio.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

#if defined(__SANITIZE_ADDRESS__)
#define QM_BENCH_COUNTS_MEMORY 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define QM_BENCH_COUNTS_MEMORY 0
#endif
#endif
#ifndef QM_BENCH_COUNTS_MEMORY
#define QM_BENCH_COUNTS_MEMORY 1
#endif

// ---------------------------------------------------------------------------
// The counting allocator.

namespace {

std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

#if QM_BENCH_COUNTS_MEMORY
void Counted(void* p) {
  if (p == nullptr) return;
  const std::int64_t now = g_live.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p)),
                                            std::memory_order_relaxed) +
                           static_cast<std::int64_t>(malloc_usable_size(p));
  std::int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void Uncounted(void* p) {
  if (p != nullptr) {
    g_live.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
  }
}
#endif

// The live count now; the peak starts again from it.
std::int64_t StartPeak() {
  const std::int64_t now = g_live.load(std::memory_order_relaxed);
  g_peak.store(now, std::memory_order_relaxed);
  return now;
}

std::int64_t PeakSince(std::int64_t start) {
  return g_peak.load(std::memory_order_relaxed) - start;
}

}  // namespace

#if QM_BENCH_COUNTS_MEMORY
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) {
  void* p = __libc_malloc(n);
  Counted(p);
  return p;
}

void* calloc(std::size_t n, std::size_t size) {
  void* p = __libc_calloc(n, size);
  Counted(p);
  return p;
}

void* realloc(void* old, std::size_t n) {
  Uncounted(old);
  void* p = __libc_realloc(old, n);
  // A failed realloc leaves the old block in place.
  Counted(p != nullptr || n == 0 ? p : old);
  return p;
}

void* memalign(std::size_t alignment, std::size_t n) {
  void* p = __libc_memalign(alignment, n);
  Counted(p);
  return p;
}

void* aligned_alloc(std::size_t alignment, std::size_t n) { return memalign(alignment, n); }

int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
  void* p = __libc_memalign(alignment, n);
  if (p == nullptr) return ENOMEM;
  Counted(p);
  *out = p;
  return 0;
}

void free(void* p) {
  Uncounted(p);
  __libc_free(p);
}
}  // extern "C"
#endif

// ---------------------------------------------------------------------------

namespace {

namespace pf = quillmark::platform;
using quillmark::Bytes;
using quillmark::control::CCorvaneQuillmark;

constexpr std::size_t kFileSize = std::size_t{50} << 20;
constexpr std::size_t kTextSize = std::size_t{200} << 20;

struct Fixture {
  std::string home;
  std::string file;        // kFileSize bytes of content
  X509* signer = nullptr;  // Li Si, RSA with a signature key
  EVP_PKEY* key = nullptr;
  std::vector<X509*> chain;  // the RSA root and customer CA

  Fixture() {
    std::string tmpl =
        (std::filesystem::temp_directory_path() / "quillmark-bench-large-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    home = tmpl;
    pf::SetQuillmarkHome(home);
    std::vector<::quillmark::demo::DemoItem> items;
    std::string error;
    if (!::quillmark::demo::CreateDemoPki(&items, &error)) std::abort();
    ::quillmark::bench::LoadDemoSigner(home, items, &signer, &key, &chain);
    file = home + "/large.bin";
    std::string content = Content(kFileSize);
    if (!pf::WriteFileAtomically(file, quillmark::AsBytes(content))) std::abort();
    // A store folder written less than two seconds ago is listed again on
    // every open; the measurement starts once the stores have settled.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  }
  ~Fixture() {
    X509_free(signer);
    EVP_PKEY_free(key);
    for (X509* c : chain) X509_free(c);
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
  }

  // Text-like ASCII: words of 1 to 10 letters from a small generator, with
  // spaces and line feeds, so that deflate has the work it has on documents.
  static std::string Content(std::size_t n) {
    std::string s(n, ' ');
    std::uint64_t x = 0x9E3779B97F4A7C15u;
    std::size_t i = 0;
    while (i < n) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      std::size_t word = 1 + x % 10;
      for (std::size_t k = 0; k < word && i < n; ++k) {
        s[i++] = static_cast<char>('a' + (x >> (8 + 3 * k)) % 26);
      }
      if (i < n) s[i++] = (x >> 60) == 0 ? '\n' : ' ';
    }
    return s;
  }
};

Fixture& TheFixture() {
  static Fixture fixture;
  pf::SetQuillmarkHome(fixture.home);  // other benchmarks use homes of their own
  return fixture;
}

void Release(std::u16string* s) { std::u16string().swap(*s); }

// Runs |body| once per iteration and reports the highest peak_ratio of all.
template <typename Body>
void Measure(benchmark::State& state, Body body) {
  std::int64_t peak = 0;
  for (auto _ : state) {
    const std::int64_t start = StartPeak();
    if (!body()) {
      state.SkipWithError("the operation failed");
      break;
    }
    peak = std::max(peak, PeakSince(start));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  if (QM_BENCH_COUNTS_MEMORY) {
    state.counters["peak_ratio"] = static_cast<double>(peak) / static_cast<double>(state.range(0));
  }
}

// ---------------------------------------------------------------------------
// Through the members.

std::u16string LargeText(std::size_t bytes) {
  std::string ascii = Fixture::Content(bytes / 2);
  return std::u16string(ascii.begin(), ascii.end());
}

std::u16string FilePath() {
  const std::string& path = TheFixture().file;
  return std::u16string(path.begin(), path.end());
}

void BM_LargeFileSign(benchmark::State& state) {
  const std::u16string path = FilePath();
  CCorvaneQuillmark control;
  std::u16string signature;
  Measure(state, [&] {
    Release(&signature);
    return control.QMAddFile(path) == 0 && control.QMAttachedSign(u"CN=Li Si", &signature) == 0;
  });
}
BENCHMARK(BM_LargeFileSign)->Arg(kFileSize)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LargeFileVerify(benchmark::State& state) {
  const std::u16string path = FilePath();
  CCorvaneQuillmark control;
  std::u16string signature;
  if (control.QMAddFile(path) != 0 || control.QMAttachedSign(u"CN=Li Si", &signature) != 0) {
    state.SkipWithError("sign failed");
    return;
  }
  Measure(state, [&] {
    CCorvaneQuillmark verifier;  // holds no received plain text yet
    return verifier.QMAttachedVerify(signature) == 0;
  });
}
BENCHMARK(BM_LargeFileVerify)->Arg(kFileSize)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LargeTextSign(benchmark::State& state) {
  TheFixture();
  const std::u16string text = LargeText(static_cast<std::size_t>(state.range(0)));
  CCorvaneQuillmark control;
  std::u16string signature;
  Measure(state, [&] {
    Release(&signature);
    return control.QMSetPlainText(text) == 0 &&
           control.QMAttachedSign(u"CN=Li Si", &signature) == 0;
  });
}
BENCHMARK(BM_LargeTextSign)->Arg(kTextSize)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LargeTextVerify(benchmark::State& state) {
  TheFixture();
  CCorvaneQuillmark control;
  std::u16string signature;
  {
    const std::u16string text = LargeText(static_cast<std::size_t>(state.range(0)));
    if (control.QMSetPlainText(text) != 0 || control.QMAttachedSign(u"CN=Li Si", &signature) != 0) {
      state.SkipWithError("sign failed");
      return;
    }
  }
  Measure(state, [&] {
    CCorvaneQuillmark verifier;
    return verifier.QMAttachedVerify(signature) == 0;
  });
}
BENCHMARK(BM_LargeTextVerify)->Arg(kTextSize)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// The bare work.

constexpr unsigned char kGzipHeader[10] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0x0B};

// The gzip frame of |in|: raw deflate at the default level with the header
// and trailer the control writes.
bool Deflate(const unsigned char* in, std::size_t n, std::vector<unsigned char>* frame) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return false;
  }
  frame->resize(sizeof kGzipHeader + deflateBound(&zs, n) + 8);
  std::memcpy(frame->data(), kGzipHeader, sizeof kGzipHeader);
  zs.next_in = const_cast<unsigned char*>(in);
  zs.avail_in = static_cast<uInt>(n);
  zs.next_out = frame->data() + sizeof kGzipHeader;
  zs.avail_out = static_cast<uInt>(frame->size() - sizeof kGzipHeader);
  const int rc = deflate(&zs, Z_FINISH);
  std::size_t used = sizeof kGzipHeader + zs.total_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) return false;
  const uLong crc = crc32(0, in, static_cast<uInt>(n));
  for (int i = 0; i < 4; ++i) (*frame)[used++] = static_cast<unsigned char>(crc >> (8 * i));
  for (int i = 0; i < 4; ++i) (*frame)[used++] = static_cast<unsigned char>(n >> (8 * i));
  frame->resize(used);
  return true;
}

// The content of a gzip frame with the 10-byte header above.
bool Inflate(const unsigned char* frame, std::size_t n, std::vector<unsigned char>* out) {
  if (n < 18) return false;
  const unsigned char* t = frame + n - 4;
  out->resize(std::size_t{t[0]} | std::size_t{t[1]} << 8 | std::size_t{t[2]} << 16 |
              std::size_t{t[3]} << 24);
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  zs.next_in = const_cast<unsigned char*>(frame + sizeof kGzipHeader);
  zs.avail_in = static_cast<uInt>(n - sizeof kGzipHeader - 8);
  zs.next_out = out->data();
  zs.avail_out = static_cast<uInt>(out->size());
  const int rc = inflate(&zs, Z_FINISH);
  inflateEnd(&zs);
  return rc == Z_STREAM_END && zs.total_out == out->size();
}

// Base64 with a line feed after every 64 characters, as EVP_Encode makes it.
std::string Base64(const std::vector<unsigned char>& in) {
  std::string text(static_cast<std::size_t>(EVP_ENCODE_LENGTH(in.size())), '\0');
  EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
  EVP_EncodeInit(ctx);
  int len = 0, total = 0;
  auto* out = reinterpret_cast<unsigned char*>(text.data());
  // EVP_EncodeUpdate takes an int length; feed it in pieces of whole lines.
  constexpr std::size_t kPiece = 48 << 20;
  for (std::size_t at = 0; at < in.size(); at += kPiece) {
    const int piece = static_cast<int>(std::min(kPiece, in.size() - at));
    if (EVP_EncodeUpdate(ctx, out + total, &len, in.data() + at, piece) != 1) std::abort();
    total += len;
  }
  EVP_EncodeFinal(ctx, out + total, &len);
  total += len;
  EVP_ENCODE_CTX_free(ctx);
  text.resize(static_cast<std::size_t>(total));
  return text;
}

std::vector<unsigned char> Unbase64(const std::string& text) {
  std::vector<unsigned char> out(text.size() / 4 * 3 + 3);
  EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
  EVP_DecodeInit(ctx);
  int len = 0, total = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  constexpr std::size_t kPiece = 64 << 20;
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    const int piece = static_cast<int>(std::min(kPiece, text.size() - at));
    if (EVP_DecodeUpdate(ctx, out.data() + total, &len, in + at, piece) < 0) std::abort();
    total += len;
  }
  EVP_DecodeFinal(ctx, out.data() + total, &len);
  total += len;
  EVP_ENCODE_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(total));
  return out;
}

// The Base64 text of the deflated SignedData of |content|.
bool BareSign(const Fixture& f, const void* content, std::size_t n, std::string* text) {
  BIO* in = BIO_new_mem_buf(content, static_cast<int>(n));
  const int flags = PKCS7_NOATTR | PKCS7_BINARY | PKCS7_PARTIAL;
  PKCS7* p7 = PKCS7_sign(nullptr, nullptr, nullptr, nullptr, flags);
  bool ok = p7 != nullptr && PKCS7_sign_add_signer(p7, f.signer, f.key, EVP_sha1(), flags) &&
            PKCS7_final(p7, in, flags) == 1;
  BIO_free(in);
  unsigned char* der = nullptr;
  const int der_len = ok ? i2d_PKCS7(p7, &der) : -1;
  PKCS7_free(p7);
  if (der_len <= 0) return false;
  std::vector<unsigned char> frame;
  ok = Deflate(der, static_cast<std::size_t>(der_len), &frame);
  OPENSSL_free(der);
  if (ok) *text = Base64(frame);
  return ok;
}

// The content of the Base64 text of a deflated SignedData, once verified.
bool BareVerify(X509_STORE* store, const std::string& text) {
  std::vector<unsigned char> der;
  {
    std::vector<unsigned char> frame = Unbase64(text);
    if (!Inflate(frame.data(), frame.size(), &der)) return false;
  }
  const unsigned char* p = der.data();
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  BIO* out = BIO_new(BIO_s_mem());
  const bool ok =
      p7 != nullptr && PKCS7_verify(p7, nullptr, store, nullptr, out, PKCS7_BINARY) == 1;
  BIO_free(out);
  PKCS7_free(p7);
  return ok;
}

// The content a bare run of |n| signs: the file read from disk (inside the
// measurement), or the text's content bytes (held before it).
bool IsFileSize(std::size_t n) { return n == kFileSize; }

void BM_BareSign(benchmark::State& state) {
  const Fixture& f = TheFixture();
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::string text_content = IsFileSize(n) ? std::string() : Fixture::Content(n / 2);
  std::string signature;
  Measure(state, [&] {
    std::string().swap(signature);
    if (!IsFileSize(n)) {
      return BareSign(f, text_content.data(), text_content.size(), &signature);
    }
    Bytes content;
    return pf::ReadWholeFile(f.file, &content) &&
           BareSign(f, content.data(), content.size(), &signature);
  });
}
BENCHMARK(BM_BareSign)
    ->Arg(kFileSize)
    ->Arg(kTextSize)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_BareVerify(benchmark::State& state) {
  const Fixture& f = TheFixture();
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::string signature;
  {
    Bytes content;
    if (IsFileSize(n)) {
      if (!pf::ReadWholeFile(f.file, &content)) std::abort();
    } else {
      std::string s = Fixture::Content(n / 2);
      content.assign(s.begin(), s.end());
    }
    if (!BareSign(f, content.data(), content.size(), &signature)) std::abort();
  }
  X509_STORE* store = X509_STORE_new();
  for (X509* c : f.chain) X509_STORE_add_cert(store, c);
  Measure(state, [&] { return BareVerify(store, signature); });
  X509_STORE_free(store);
}
BENCHMARK(BM_BareVerify)
    ->Arg(kFileSize)
    ->Arg(kTextSize)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
