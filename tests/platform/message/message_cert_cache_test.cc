// Decoding a SignedData with its certificates taken from the per-process
// cache: the message comes out as OpenSSL alone would decode it, a broken
// certificate fails the same way every time, and the cache stays bounded.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"
#include "support/cert_factory.h"

namespace quillmark::platform::msg {
namespace {

using testing::NameBuilder;

Bytes Cn(const std::string& cn) { return NameBuilder().Add("CN", cn).Der(); }

EVP_PKEY* CaKey() {
  static testing::EvpPkeyPtr key = testing::MakeEcKey();
  return key.get();
}
EVP_PKEY* LeafKey() {
  static testing::EvpPkeyPtr key = testing::MakeEcKey();
  return key.get();
}

Bytes Issue(const std::string& cn, EVP_PKEY* key, Bytes serial) {
  testing::CertSpec spec;
  spec.subject = Cn(cn);
  spec.issuer = Cn("Cache CA");
  spec.subject_key = key;
  spec.issuer_key = CaKey();
  spec.serial = std::move(serial);
  return testing::MakeCertificate(spec);
}

ossl::X509Ptr Parse(const Bytes& der) {
  const unsigned char* p = der.data();
  return ossl::X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

// A SignedData over "hello" by the leaf, carrying the leaf and |extra|.
Bytes SignedMessage(const Bytes& leaf_der, const std::vector<Bytes>& extra) {
  ossl::X509Ptr leaf = Parse(leaf_der);
  STACK_OF(X509)* certs = sk_X509_new_null();
  for (const Bytes& der : extra) sk_X509_push(certs, Parse(der).release());
  ossl::BioPtr in(BIO_new_mem_buf("hello", 5));
  ossl::Pkcs7Ptr p7(PKCS7_sign(leaf.get(), LeafKey(), certs, in.get(), PKCS7_BINARY));
  sk_X509_pop_free(certs, X509_free);
  EXPECT_NE(p7, nullptr);
  Bytes der;
  EXPECT_EQ(EncodeMessage(p7.get(), &der), 0u);
  return der;
}

std::vector<Bytes> CertsOf(PKCS7* p7) {
  std::vector<Bytes> out;
  STACK_OF(X509)* certs = p7->d.sign->cert;
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    unsigned char* der = nullptr;
    int len = i2d_X509(sk_X509_value(certs, i), &der);
    out.emplace_back(der, der + len);
    OPENSSL_free(der);
  }
  return out;
}

// The same message with its outermost sequence in indefinite-length form.
Bytes Indefinite(const Bytes& der) {
  EXPECT_EQ(der[0], 0x30);
  std::size_t header = (der[1] & 0x80) ? 2 + (der[1] & 0x7F) : 2;
  Bytes out = {0x30, 0x80};
  out.insert(out.end(), der.begin() + static_cast<std::ptrdiff_t>(header), der.end());
  out.push_back(0);
  out.push_back(0);
  return out;
}

TEST(MessageCertCacheTest, DecodesAsOpenSslDoes) {
  const Bytes leaf = Issue("Leaf", LeafKey(), {0x11});
  const Bytes other = Issue("Other", LeafKey(), {0x12});
  for (const std::vector<Bytes>& extra : {std::vector<Bytes>{}, std::vector<Bytes>{other}}) {
    const Bytes der = SignedMessage(leaf, extra);
    std::vector<Bytes> expected = {leaf};
    expected.insert(expected.end(), extra.begin(), extra.end());

    Bytes rest;
    std::vector<ByteSpan> spans;
    ASSERT_TRUE(SplitCertificates(der, &rest, &spans));
    ASSERT_EQ(spans.size(), expected.size());
    EXPECT_LT(rest.size(), der.size());

    // The same message twice (the second from the cache), and in BER.
    for (const Bytes& input : {der, der, Indefinite(der)}) {
      ossl::Pkcs7Ptr p7;
      ASSERT_EQ(DecodeMessage(input, &p7), 0u);
      std::vector<Bytes> got = CertsOf(p7.get());
      std::sort(got.begin(), got.end());
      std::vector<Bytes> want = expected;
      std::sort(want.begin(), want.end());
      EXPECT_EQ(got, want);
      Bytes again;
      ASSERT_EQ(EncodeMessage(p7.get(), &again), 0u);
      EXPECT_EQ(again, der) << "re-encodes to the bytes it came from";
    }
  }

  // A message without certificates has nothing to split and still decodes.
  ossl::X509Ptr x = Parse(leaf);
  ossl::BioPtr in(BIO_new_mem_buf("hello", 5));
  ossl::Pkcs7Ptr bare(
      PKCS7_sign(x.get(), LeafKey(), nullptr, in.get(), PKCS7_BINARY | PKCS7_NOCERTS));
  Bytes der, rest;
  ASSERT_EQ(EncodeMessage(bare.get(), &der), 0u);
  std::vector<ByteSpan> spans;
  EXPECT_FALSE(SplitCertificates(der, &rest, &spans));
  ossl::Pkcs7Ptr p7;
  ASSERT_EQ(DecodeMessage(der, &p7), 0u);
  EXPECT_EQ(p7->d.sign->cert, nullptr);
  EXPECT_FALSE(SplitCertificates(Indefinite(der), &rest, &spans));
}

TEST(MessageCertCacheTest, SharesParsesAndForgetsFailures) {
  const Bytes leaf = Issue("Shared", LeafKey(), {0x21});
  ossl::X509Ptr first = DecodeCachedCertificate(leaf);
  ossl::X509Ptr second = DecodeCachedCertificate(leaf);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first.get(), second.get());

  // A certificate whose inner sequence is a set: refused on every call, and
  // the message that carries it is refused as a whole.
  const Bytes der = SignedMessage(leaf, {});
  Bytes broken = der;
  std::vector<ByteSpan> spans;
  Bytes rest;
  ASSERT_TRUE(SplitCertificates(der, &rest, &spans));
  const std::size_t at = static_cast<std::size_t>(spans[0].data() - der.data());
  const std::size_t inner = at + ((der[at + 1] & 0x80) ? 2 + (der[at + 1] & 0x7F) : 2);
  ASSERT_EQ(broken[inner], 0x30);
  broken[inner] = 0x31;
  ByteSpan bad_cert(broken.data() + at, spans[0].size());
  EXPECT_EQ(DecodeCachedCertificate(bad_cert), nullptr);
  EXPECT_EQ(DecodeCachedCertificate(bad_cert), nullptr);
  ossl::Pkcs7Ptr p7;
  EXPECT_EQ(DecodeMessage(broken, &p7), kCryptEOssError);
  EXPECT_EQ(p7, nullptr);

  // Trailing bytes after a certificate are no certificate.
  Bytes longer = leaf;
  longer.push_back(0);
  EXPECT_EQ(DecodeCachedCertificate(longer), nullptr);
  EXPECT_EQ(DecodeCachedCertificate(ByteSpan()), nullptr);
}

TEST(MessageCertCacheTest, KeepsOnlyRecentCertificates) {
  const Bytes oldest = Issue("Oldest", LeafKey(), {0x31});
  ossl::X509Ptr kept = DecodeCachedCertificate(oldest);
  ASSERT_NE(kept, nullptr);
  for (int i = 0; i < 300; ++i) {
    Bytes serial = {0x40, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
    ASSERT_NE(DecodeCachedCertificate(Issue("Many", LeafKey(), serial)), nullptr);
  }
  ossl::X509Ptr again = DecodeCachedCertificate(oldest);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again.get(), kept.get()) << "parsed afresh once pushed out";
  EXPECT_EQ(X509_cmp(again.get(), kept.get()), 0);
}

}  // namespace
}  // namespace quillmark::platform::msg
