// Messages that would make OpenSSL do unbounded work: large sets of
// certificates, CRLs and signer infos, and messages wrapped inside messages,
// refused from a look at their BER before they are decoded.
#include <gtest/gtest.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <string>

#include "message_fixture.h"
#include "platform/message/message.h"
#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"

namespace quillmark::platform {
namespace {

// The identifier and length octets of a value of |length| content bytes:
// definite, or indefinite (the end-of-contents octets then follow the content).
Bytes Header(std::uint8_t tag, std::size_t length, bool indefinite) {
  if (indefinite) return {tag, 0x80};
  if (length < 0x80) return {tag, static_cast<std::uint8_t>(length)};
  Bytes octets;
  for (std::size_t v = length; v > 0; v >>= 8) {
    octets.insert(octets.begin(), static_cast<std::uint8_t>(v));
  }
  Bytes header = {tag, static_cast<std::uint8_t>(0x80 | octets.size())};
  header.insert(header.end(), octets.begin(), octets.end());
  return header;
}

// One DER value with a definite length.
Bytes Tlv(std::uint8_t tag, const Bytes& content) {
  Bytes out = Header(tag, content.size(), false);
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kSignedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};

// A SignedData with no signer carrying |count| copies of |cert|, in DER or
// with every constructed value of indefinite length. Written in one pass, so
// that a bag of a hundred thousand is held once.
Bytes CertificateBag(ByteSpan cert, std::size_t count, bool indefinite) {
  const std::size_t eoc = indefinite ? 2 : 0;
  const Bytes leading = Cat({Tlv(0x02, {1}), Header(0x31, 0, indefinite), Bytes(eoc, 0),
                             Header(0x30, kDataOid.size(), indefinite), kDataOid, Bytes(eoc, 0)});
  const Bytes trailing = Cat({Header(0x31, 0, indefinite), Bytes(eoc, 0)});
  const std::size_t certs = cert.size() * count;
  const Bytes certs_header = Header(0xA0, certs, indefinite);
  const std::size_t body = leading.size() + certs_header.size() + certs + eoc + trailing.size();
  const Bytes body_header = Header(0x30, body, indefinite);
  const std::size_t content = body_header.size() + body + eoc;
  const Bytes content_header = Header(0xA0, content, indefinite);
  const std::size_t outer = kSignedDataOid.size() + content_header.size() + content + eoc;

  Bytes bag = Header(0x30, outer, indefinite);
  bag.reserve(bag.size() + outer + eoc);
  for (const Bytes& part : {kSignedDataOid, content_header, body_header, leading, certs_header}) {
    bag.insert(bag.end(), part.begin(), part.end());
  }
  for (std::size_t i = 0; i < count; ++i) bag.insert(bag.end(), cert.begin(), cert.end());
  bag.insert(bag.end(), eoc, 0);  // certificates
  bag.insert(bag.end(), trailing.begin(), trailing.end());
  bag.insert(bag.end(), 3 * eoc, 0);  // SignedData, [0], ContentInfo
  return bag;
}

// A CRL issued by |issuer|'s subject, signed with |key|.
X509_CRL* MakeCrl(const X509* issuer, EVP_PKEY* key) {
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer));
  ASN1_TIME* now = ASN1_TIME_set(nullptr, 1700000000);
  X509_CRL_set1_lastUpdate(crl, now);
  ASN1_TIME_free(now);
  X509_CRL_sign(crl, key, EVP_sha256());
  return crl;
}

bool Refused(const Bytes& blob) {
  SetLastError(0);
  Bytes content = {'x'};
  CertContextPtr signer;
  return !CryptVerifyMessageSignature({}, 0, blob, &content, &signer) &&
         GetLastError() == kCryptEOssError && content.empty() && signer == nullptr;
}

using MessageLimitsTest = MessageTest;

TEST_F(MessageLimitsTest, AHundredCertificatesOrCrlsPassAndOneMoreIsRefused) {
  Bytes blob;
  ASSERT_TRUE(CryptSignMessage(SignPara(alice_), false, data_, &blob));
  const X509* alice = CertContextX509(*alice_);
  auto with = [&](int certs, int crls) {
    TestPkcs7 p7 = DecodePkcs7(blob);
    EXPECT_NE(p7, nullptr);
    for (int i = 1; i < certs; ++i) PKCS7_add_certificate(p7.get(), const_cast<X509*>(alice));
    for (int i = 0; i < crls; ++i) {
      X509_CRL* crl = MakeCrl(alice, alice_key_);
      PKCS7_add_crl(p7.get(), crl);
      X509_CRL_free(crl);
    }
    Bytes der = EncodePkcs7(p7.get());
    TestPkcs7 back = DecodePkcs7(der);  // OpenSSL itself takes every one of them
    EXPECT_NE(back, nullptr);
    EXPECT_EQ(sk_X509_num(back->d.sign->cert), certs);
    return der;
  };
  for (auto [certs, crls] : {std::pair{100, 0}, {1, 100}, {100, 100}}) {
    SCOPED_TRACE(std::to_string(certs) + " certificates, " + std::to_string(crls) + " CRLs");
    Bytes content;
    EXPECT_TRUE(CryptVerifyMessageSignature({}, 0, with(certs, crls), &content, nullptr));
    EXPECT_EQ(content, data_);
  }
  for (auto [certs, crls] : {std::pair{101, 0}, {1, 101}}) {
    SCOPED_TRACE(std::to_string(certs) + " certificates, " + std::to_string(crls) + " CRLs");
    EXPECT_TRUE(Refused(with(certs, crls)));
  }

  // 101 signer infos, each a copy of the real one.
  TestPkcs7 p7 = DecodePkcs7(blob);
  ASSERT_NE(p7, nullptr);
  STACK_OF(PKCS7_SIGNER_INFO)* infos = p7->d.sign->signer_info;
  for (int i = 0; i < 100; ++i) {
    void* copy =
        ASN1_item_dup(ASN1_ITEM_rptr(PKCS7_SIGNER_INFO), sk_PKCS7_SIGNER_INFO_value(infos, 0));
    sk_PKCS7_SIGNER_INFO_push(infos, static_cast<PKCS7_SIGNER_INFO*>(copy));
  }
  EXPECT_TRUE(Refused(EncodePkcs7(p7.get())));
}

TEST_F(MessageLimitsTest, ABagOfAHundredThousandCertificatesIsRefusedUnparsed) {
  const ByteSpan cert = alice_->der();
  for (bool indefinite : {false, true}) {
    SCOPED_TRACE(indefinite ? "indefinite lengths" : "DER");
    const Bytes bag = CertificateBag(cert, 100000, indefinite);
    ASSERT_GT(bag.size(), 100000 * cert.size());
    EXPECT_EQ(msg::CheckMessageShape(bag), kCryptEOssError);
    EXPECT_TRUE(Refused(bag));
    Bytes content;
    EXPECT_FALSE(CryptDecryptMessage(DecryptPara(std::span(&my_, 1)), bag, &content, nullptr));
    EXPECT_EQ(GetLastError(), kCryptEOssError);

    // The same shape with a hundred passes the look; it fails later, for
    // want of a signer, with OpenSSL's decoding behind it.
    const Bytes hundred = CertificateBag(cert, 100, indefinite);
    EXPECT_EQ(msg::CheckMessageShape(hundred), 0u);
    EXPECT_EQ(msg::CheckMessageShape(CertificateBag(cert, 101, indefinite)), kCryptEOssError);
  }
}

TEST_F(MessageLimitsTest, AMessageInsideASignedMessageIsRefused) {
  Bytes signed_blob, envelope;
  ASSERT_TRUE(CryptSignMessage(SignPara(alice_), false, data_, &signed_blob));
  ASSERT_TRUE(CryptEncryptMessage({}, std::span(&bob_, 1), data_, &envelope));
  for (const Bytes* inner : {&signed_blob, &envelope}) {
    TestPkcs7 outer(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(outer.get(), NID_pkcs7_signed), 1);
    ASSERT_EQ(PKCS7_set_content(outer.get(), DecodePkcs7(*inner).release()), 1);
    const Bytes wrapped = EncodePkcs7(outer.get());
    ASSERT_NE(DecodePkcs7(wrapped), nullptr);  // OpenSSL would decode it
    EXPECT_TRUE(Refused(wrapped));
  }
  // The one nesting the message services make still opens: a SignedData
  // enveloped whole.
  Bytes nested, content;
  ASSERT_TRUE(
      CryptSignAndEncryptMessage(SignPara(alice_), {}, std::span(&bob_, 1), data_, &nested));
  CertContextPtr recipient, signer;
  EXPECT_TRUE(CryptDecryptAndVerifyMessageSignature(DecryptPara(std::span(&my_, 1)), {}, 0, nested,
                                                    &content, &recipient, &signer));
  EXPECT_EQ(content, data_);
}

TEST_F(MessageLimitsTest, MalformedBerIsRefusedWithoutRecursingWithoutEnd) {
  const Bytes good = CertificateBag(alice_->der(), 1, true);
  ASSERT_EQ(msg::CheckMessageShape(good), 0u);
  Bytes deep;
  for (int i = 0; i < 100000; ++i) deep.insert(deep.end(), {0x30, 0x80});
  const Bytes cases[] = {
      {},
      {0x30},
      {0x30, 0x80},                                // no end-of-contents
      {0x04, 0x80, 0x00, 0x00},                    // a primitive cannot be indefinite
      {0x30, 0x89, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0},  // a length of nine octets
      {0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x06},  // a length past the end
      Bytes(good.begin(), good.end() - 2),         // the last end-of-contents missing
      Cat({good, {0}}),                            // a byte after the message
      deep,
      Cat({Bytes{0x30, 0x80}, kSignedDataOid, Bytes{0xA0, 0x80}, deep}),
  };
  for (const Bytes& c : cases) {
    EXPECT_EQ(msg::CheckMessageShape(c), kCryptEOssError) << c.size();
    EXPECT_TRUE(Refused(c)) << c.size();
  }
}

}  // namespace
}  // namespace quillmark::platform
