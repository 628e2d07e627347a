// The Advance flows over a demonstration PKI in a scratch home: RSA and SM2
// packages made through the key providers, checked here, by the package
// parser and by the real openssl command, and refused with the statuses of
// each step.
#include <gtest/gtest.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "certs/cert_info.h"
#include "common/status.h"
#include "crypto/advance_sign.h"
#include "crypto/advance_verify.h"
#include "crypto/demo_home.h"
#include "crypto/provider_steps.h"
#include "encoding/base64.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context.h"
#include "signeddata/signed_data.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::crypto {

using ::quillmark::signeddata::kMd5Oid;
using ::quillmark::signeddata::kSha1Oid;
namespace {

using testing::RunShell;
using testing::RunShellCapture;
using testing::WriteBytes;

constexpr std::u16string_view kLiSubject = u"CN=Li Si, OU=Corporate, O=Demo Bank, C=CN";

Bytes Decode(ByteSpan text) {
  Bytes out;
  EXPECT_EQ(encoding::Base64Decode(text, &out), kOk);
  return out;
}

Bytes Encode(ByteSpan der) {
  Bytes out;
  EXPECT_EQ(encoding::Base64Encode(der, &out), kOk);
  return out;
}

std::string Dotted(const ASN1_OBJECT* oid) {
  char text[80] = {};
  OBJ_obj2txt(text, sizeof text, oid, 1);
  return text;
}

// What OpenSSL reads in a package: both algorithm identifiers of the one
// signer, its encryptedDigest and the embedded certificate.
struct Reading {
  std::string digest_alg, signer_digest_alg, signature_alg;
  Bytes signature, certificate;
};

Reading ReadPackage(ByteSpan der) {
  Reading r;
  const unsigned char* p = der.data();
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  EXPECT_NE(p7, nullptr);
  if (p7 == nullptr || !PKCS7_type_is_signed(p7)) return r;
  r.digest_alg = Dotted(sk_X509_ALGOR_value(p7->d.sign->md_algs, 0)->algorithm);
  PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0);
  r.signer_digest_alg = Dotted(si->digest_alg->algorithm);
  r.signature_alg = Dotted(si->digest_enc_alg->algorithm);
  r.signature.assign(si->enc_digest->data, si->enc_digest->data + si->enc_digest->length);
  unsigned char* cert = nullptr;
  int size = i2d_X509(sk_X509_value(p7->d.sign->cert, 0), &cert);
  if (size > 0) r.certificate.assign(cert, cert + size);
  OPENSSL_free(cert);
  PKCS7_free(p7);
  return r;
}

class AdvanceTest : public DemoHomeTest {
 protected:
  // Signs |data| as the first signer whose subject holds |dn| (server mode:
  // no dialog), in "MY" and, from sign mode 2 on, the store "SM2".
  static Status Sign(ByteSpan data, std::u16string_view dn, bool detached, Bytes* text,
                     std::string_view digest = kSha1Oid, int sign_mode = 1,
                     int max_comp_size = 51200, certs::CertInfoSet* info = nullptr) {
    return AdvanceSign(
        data, {.dn = dn, .server_mode = true, .sign_mode = sign_mode, .sm2_store = u"SM2"},
        {.detached = detached, .digest_oid = digest, .compression_threshold = max_comp_size}, {},
        text, info);
  }
};

const Bytes kData = {'p', 'a', 'y', ' ', '1', '0', '0', 0x00, 0xD4, 0xAA};

TEST_F(AdvanceTest, RsaPackagesRoundTripAttachedAndDetached) {
  Bytes attached, detached;
  certs::CertInfoSet info;
  ASSERT_EQ(Sign(kData, u"CN=Li Si", false, &attached, kSha1Oid, 1, 51200, &info), kOk);
  EXPECT_EQ(*info.Get(certs::kFieldSubject), kLiSubject);
  ASSERT_EQ(Sign(kData, u"CN=Li Si", true, &detached), kOk);
  const Reading r = ReadPackage(Decode(attached));
  EXPECT_EQ(r.digest_alg, "1.3.14.3.2.26");
  EXPECT_EQ(r.signature_alg, "1.2.840.113549.1.1.1");

  Bytes content = {'o', 'l', 'd'};
  certs::CertInfoSet signer;
  ASSERT_EQ(AdvanceVerifyAttached(attached, &content, &signer), kOk);
  EXPECT_EQ(content, kData);
  EXPECT_EQ(*signer.Get(certs::kFieldSubject), kLiSubject);
  EXPECT_EQ(AdvanceVerifyDetached(detached, kData, nullptr), kOk);

  // One changed byte of the data, or of the signature in the package. The
  // status is also the platform code.
  Bytes changed = kData;
  changed.back() ^= 1;
  EXPECT_EQ(AdvanceVerifyDetached(detached, changed, nullptr), NumberAsCode(kErrSignatureCheck));
  Bytes der = Decode(attached);
  der[der.size() - 1] ^= 1;
  EXPECT_EQ(AdvanceVerifyAttached(Encode(der), &content, &signer),
            NumberAsCode(kErrSignatureCheck));
  EXPECT_EQ(content, kData) << "content replaced only on success";

  // The package kinds do not mix.
  EXPECT_EQ(AdvanceVerifyDetached(attached, kData, nullptr), NumberAsCode(kErrInvalidSignature));
  EXPECT_EQ(AdvanceVerifyAttached(detached, &content, nullptr), NumberAsCode(kErrSignatureCheck))
      << "a detached package checked against no content";

  // A revoked signer signs, but its chain does not pass.
  Bytes revoked;
  ASSERT_EQ(Sign(kData, u"CN=王五", false, &revoked), kOk);
  EXPECT_EQ(AdvanceVerifyAttached(revoked, &content, nullptr), NumberAsCode(kErrCertRevoked));
}

TEST_F(AdvanceTest, DigestChoicesAndCompression) {
  // MD5 names 1.2.840.113549.2.5 in both digest fields and verifies.
  Bytes md5, content;
  ASSERT_EQ(Sign(kData, u"CN=Li Si", false, &md5, kMd5Oid), kOk);
  const Reading r = ReadPackage(Decode(md5));
  EXPECT_EQ(r.digest_alg, "1.2.840.113549.2.5");
  EXPECT_EQ(r.signer_digest_alg, "1.2.840.113549.2.5");
  EXPECT_EQ(AdvanceVerifyAttached(md5, &content, nullptr), kOk);

  // SHA-256 signs but the RSA package takes no such digest; an OID without a
  // hash algorithm fails at the hash, before any signing, with no platform
  // code.
  Bytes text;
  EXPECT_EQ(Sign(kData, u"CN=Li Si", false, &text, "2.16.840.1.101.3.4.2.1"), kErrBadAlgorithm);
  EXPECT_EQ(Sign(kData, u"CN=Li Si", false, &text, "1.2.3.4"), kErrHashCreate);
  EXPECT_TRUE(text.empty());

  // At the threshold the package becomes a compression frame, attached or
  // detached; one byte below it stays plain DER.
  Bytes plain_text;
  ASSERT_EQ(Sign(kData, u"CN=Li Si", true, &plain_text), kOk);
  const int size = static_cast<int>(Decode(plain_text).size());
  Bytes at, below;
  ASSERT_EQ(Sign(kData, u"CN=Li Si", true, &at, kSha1Oid, 1, size), kOk);
  ASSERT_EQ(Sign(kData, u"CN=Li Si", true, &below, kSha1Oid, 1, size + 1), kOk);
  EXPECT_EQ(Decode(at)[0], 0x1F);
  EXPECT_EQ(Decode(below)[0], 0x30);
  EXPECT_EQ(AdvanceVerifyDetached(at, kData, nullptr), kOk);
  const Bytes big(200000, 'z');
  Bytes compressed;
  ASSERT_EQ(Sign(big, u"CN=Li Si", false, &compressed), kOk);
  EXPECT_LT(compressed.size(), big.size() / 10);
  EXPECT_EQ(AdvanceVerifyAttached(compressed, &content, nullptr), kOk);
  EXPECT_EQ(content, big);
}

TEST_F(AdvanceTest, Sm2PackageNamesSm3AndVerifiesWithOpenssl) {
  Bytes text;
  // Sign mode 1 offers no SM2 certificate; 2 needs the SM2 store's name
  // before anything else.
  EXPECT_EQ(AdvanceSign(kData, {.dn = u"CN=赵六", .sign_mode = 1, .sm2_store = u"SM2"}, {}, {},
                        &text, nullptr),
            kErrCertNotFound);
  EXPECT_EQ(AdvanceSign(kData, {.dn = u"CN=赵六", .server_mode = true, .sign_mode = 2}, {}, {},
                        &text, nullptr),
            kErrNoSm2Store);
  ASSERT_EQ(Sign(kData, u"CN=赵六", false, &text, kSha1Oid, 2), kOk);
  const Bytes der = Decode(text);
  const Reading r = ReadPackage(der);
  EXPECT_EQ(r.digest_alg, "1.2.156.10197.1.401");
  EXPECT_EQ(r.signer_digest_alg, "1.2.156.10197.1.401");
  EXPECT_EQ(r.signature_alg, "1.2.156.10197.1.301");

  const std::string dir = work_.path() + "/";
  ASSERT_TRUE(
      WriteBytes(dir + "cert.pem", AsBytes(testing::DerToPem(r.certificate, "CERTIFICATE"))));
  ASSERT_TRUE(WriteBytes(dir + "sig.der", r.signature));
  ASSERT_TRUE(WriteBytes(dir + "data.bin", kData));
  ASSERT_EQ(RunShell("openssl x509 -pubkey -noout -in " + dir + "cert.pem > " + dir + "pub.pem"),
            0);
  std::string out;
  EXPECT_EQ(RunShellCapture("openssl dgst -sm3 -verify " + dir + "pub.pem -sigopt " +
                                "distid:1234567812345678 -signature " + dir + "sig.der " + dir +
                                "data.bin 2>&1",
                            &out),
            0);
  EXPECT_EQ(out, "Verified OK\n");

  // Neither verification takes an SM2 package.
  Bytes content, detached;
  ASSERT_EQ(Sign(kData, u"CN=赵六", true, &detached, kSha1Oid, 4), kOk);
  EXPECT_EQ(AdvanceVerifyAttached(text, &content, nullptr), NumberAsCode(kErrNotSignedData));
  EXPECT_EQ(AdvanceVerifyDetached(detached, kData, nullptr), NumberAsCode(kErrNotSignedData));
}

TEST_F(AdvanceTest, RsaPackagesVerifyWithOpensslSmime) {
  const std::string dir = work_.path() + "/";
  ASSERT_TRUE(WriteBytes(dir + "data.bin", kData));
  for (bool detached : {false, true}) {
    SCOPED_TRACE(detached);
    Bytes text;
    ASSERT_EQ(Sign(kData, u"CN=张三", detached, &text), kOk);
    Bytes out;
    ASSERT_TRUE(OpensslSmimeVerify(dir, Decode(text), detached, &out));
    EXPECT_EQ(out, kData);
  }
}

TEST_F(AdvanceTest, UndecodableTextAndMissingArguments) {
  Bytes content;
  struct Row {
    const char* text;
    int status;
  };
  const Row rows[] = {
      {"", kErrEmptyInput},
      {"YWJ", kErrBase64Decode},  // an incomplete group
      {"=AAA", kErrBerDecode},    // decodes to nothing
      {"YWJj", kErrBerDecode},    // "abc"
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(AdvanceVerifyAttached(AsBytes(row.text), &content, nullptr),
              NumberAsCode(row.status));
    EXPECT_EQ(AdvanceVerifyDetached(AsBytes(row.text), kData, nullptr), NumberAsCode(row.status));
  }
  // A package whose outer type is envelopedData (1.2.840.113549.1.7.3).
  Bytes text;
  ASSERT_EQ(Sign(kData, u"CN=Li Si", false, &text), kOk);
  Bytes der = Decode(text);
  ASSERT_EQ(der[14], 0x02);
  der[14] = 0x03;
  EXPECT_EQ(AdvanceVerifyAttached(Encode(der), &content, nullptr), NumberAsCode(kErrNotSignedData));

  EXPECT_EQ(AdvanceVerifyAttached(AsBytes("YWJj"), nullptr, nullptr), NumberAsCode(kErrEmptyInput));
  EXPECT_EQ(AdvanceSign(kData, {.dn = u"CN=Li Si", .server_mode = true}, {}, {}, nullptr, nullptr),
            kErrEmptyInput);
}

// The header size and whole size of the DER value at the front of |in|.
std::pair<std::size_t, std::size_t> DerSizes(ByteSpan in) {
  std::size_t length = in[1], header = 2;
  if (length & 0x80) {
    const std::size_t octets = length & 0x7F;
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) length = (length << 8) | in[2 + i];
    header += octets;
  }
  return {header, header + length};
}

Bytes DerValue(std::uint8_t tag, const Bytes& content) {
  Bytes out = {tag};
  if (content.size() < 0x80) {
    out.push_back(static_cast<std::uint8_t>(content.size()));
  } else {
    Bytes octets;
    for (std::size_t v = content.size(); v > 0; v >>= 8) {
      octets.insert(octets.begin(), static_cast<std::uint8_t>(v));
    }
    out.push_back(static_cast<std::uint8_t>(0x80 | octets.size()));
    out.insert(out.end(), octets.begin(), octets.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

// The fields of the SignedData inside a package: version, digestAlgorithms,
// contentInfo, [0] certificates, signerInfos.
struct SignedFields {
  Bytes oid;
  std::vector<Bytes> fields;
};

SignedFields SplitPackage(ByteSpan der) {
  SignedFields out;
  ByteSpan content_info = der.subspan(DerSizes(der).first);
  const std::size_t oid_size = DerSizes(content_info).second;
  out.oid.assign(content_info.begin(), content_info.begin() + oid_size);
  ByteSpan explicit_content = content_info.subspan(oid_size);
  ByteSpan body = explicit_content.subspan(DerSizes(explicit_content).first);
  for (ByteSpan rest = body.subspan(DerSizes(body).first); !rest.empty();) {
    const std::size_t size = DerSizes(rest).second;
    out.fields.emplace_back(rest.begin(), rest.begin() + size);
    rest = rest.subspan(size);
  }
  return out;
}

// |package| with |count| copies of |item| added after the items of the
// SignedData's field |index| (a SET or the [0] certificates).
Bytes WithExtraItems(ByteSpan package, std::size_t index, ByteSpan item, std::size_t count) {
  SignedFields parts = SplitPackage(package);
  Bytes& field = parts.fields.at(index);
  Bytes items(field.begin() + static_cast<std::ptrdiff_t>(DerSizes(field).first), field.end());
  items.reserve(items.size() + count * item.size());
  for (std::size_t i = 0; i < count; ++i) items.insert(items.end(), item.begin(), item.end());
  field = DerValue(field[0], items);
  Bytes body;
  for (const Bytes& f : parts.fields) body.insert(body.end(), f.begin(), f.end());
  Bytes content_info = parts.oid;
  const Bytes wrapped = DerValue(0xA0, DerValue(0x30, body));
  content_info.insert(content_info.end(), wrapped.begin(), wrapped.end());
  return DerValue(0x30, content_info);
}

// The first item of the SignedData's field |index|.
Bytes FirstItem(ByteSpan package, std::size_t index) {
  const Bytes field = SplitPackage(package).fields.at(index);
  ByteSpan items = ByteSpan(field).subspan(DerSizes(field).first);
  return Bytes(items.begin(), items.begin() + DerSizes(items).second);
}

// A package is held to the item limits of every PKCS#7 message: a hundred
// digest algorithms, certificates or signer infos verify, one more is
// refused as QMAttachedVerify refuses it (-10007, CRYPT_E_OSS_ERROR), in
// both forms, before the package is parsed.
TEST_F(AdvanceTest, PackagesAreHeldToTheMessageItemLimits) {
  Bytes attached, detached;
  ASSERT_EQ(Sign(kData, u"CN=Li Si", false, &attached), kOk);
  ASSERT_EQ(Sign(kData, u"CN=Li Si", true, &detached), kOk);
  const Bytes attached_der = Decode(attached), detached_der = Decode(detached);
  const Status refused(kErrMessageNotRecognised, platform::kCryptEOssError);
  struct Row {
    const char* what;
    std::size_t field;
    bool empty_item;  // an empty SEQUENCE rather than a copy of the first item
  };
  const Row rows[] = {
      {"digest algorithms", 1, false},
      {"certificates", 3, false},
      {"empty signer infos", 4, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Bytes item = row.empty_item ? Bytes{0x30, 0x00} : FirstItem(attached_der, row.field);
    Bytes content;
    EXPECT_EQ(AdvanceVerifyAttached(Encode(WithExtraItems(attached_der, row.field, item, 99)),
                                    &content, nullptr),
              kOk);
    EXPECT_EQ(content, kData);
    content = {'o', 'l', 'd'};
    certs::CertInfoSet info;
    EXPECT_EQ(AdvanceVerifyAttached(Encode(WithExtraItems(attached_der, row.field, item, 100)),
                                    &content, &info),
              refused);
    EXPECT_EQ(content, Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(info.Get(certs::kFieldSubject), nullptr);
    EXPECT_EQ(AdvanceVerifyDetached(Encode(WithExtraItems(detached_der, row.field, item, 100)),
                                    kData, nullptr),
              refused);
  }

  // A million empty signer infos beside the real one: refused from the look,
  // without building a million of anything.
  const Bytes many = WithExtraItems(attached_der, 4, Bytes{0x30, 0x00}, 1'000'000);
  const auto start = std::chrono::steady_clock::now();
  Bytes content;
  EXPECT_EQ(AdvanceVerifyAttached(Encode(many), &content, nullptr), refused);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(AdvanceTest, ChooserOffersTheListTheSignModePrefers) {
  // Sign mode 1: the not-SM2 certificates of "MY" alone; Cancel ends it.
  Answer("cancel\n");
  Bytes text;
  EXPECT_EQ(AdvanceSign(kData, {.sign_mode = 1}, {}, {}, &text, nullptr), kErrCertNotFound);
  std::vector<platform::ui::DialogReport> reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  std::vector<std::u16string> rows;
  for (const platform::ui::ChooserRow& r : reports[0].rows) rows.push_back(r.subject);
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::u16string>{u"Li Si", u"张三", u"王五"}));

  // Sign mode 4: the SM2 list, with 赵六 from "MY" and from the SM2 store.
  Answer("choose 1\n");
  certs::CertInfoSet signer;
  ASSERT_EQ(AdvanceSign(kData, {.sign_mode = 4, .sm2_store = u"SM2"}, {}, {}, &text, &signer), kOk);
  reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_EQ(reports[0].rows.size(), 2u);
  EXPECT_EQ(reports[0].rows[0].subject, u"赵六");
  EXPECT_EQ(reports[0].rows[1].subject, u"赵六");
  EXPECT_TRUE(signer.Get(certs::kFieldSubject)->starts_with(u"CN=赵六"));
  EXPECT_EQ(ReadPackage(Decode(text)).digest_alg, "1.2.156.10197.1.401");
}

TEST_F(AdvanceTest, SigningStepsOnTheirOwn) {
  platform::CertContextPtr no_key = platform::CertCreateCertificateContext(
      platform::kDefaultEncoding, ItemDer("AddressBook", u"CN=Li Si"));
  ASSERT_NE(no_key, nullptr);
  EXPECT_EQ(IsSm2Certificate(nullptr), kErrEmptyInput);
  EXPECT_EQ(IsSm2Certificate(no_key.get()), kRsaCertificate);

  Bytes signature = {1};
  EXPECT_EQ(RsaSignContent(*no_key, kSha1Oid, kData, &signature), kErrNoPrivateKeyProperty)
      << "no platform code";
  EXPECT_EQ(Sm2SignContent(*no_key, kSm2HashAlgId, kData, &signature),
            Status(kErrKeyDeviceNotFound, platform::kCryptENoKeyProperty));
  EXPECT_EQ(signature, Bytes{1}) << "untouched by a failure";

  // A container that cannot be opened stores the provider's error.
  platform::KeyProvInfo missing;
  missing.container = u"no-such-container";
  ASSERT_TRUE(platform::CertSetCertificateContextProperty(*no_key, platform::kCertKeyProvInfoPropId,
                                                          0, &missing));
  EXPECT_EQ(RsaSignContent(*no_key, kSha1Oid, kData, &signature),
            Status(kErrKeyDeviceNotFound, platform::kNteBadKeyset));

  // What a key device reports decides the status of a failed signing call.
  EXPECT_EQ(crypto::SignFailureStatus(platform::kScardWCancelledByUser), kErrKeyDeviceCancelled);
  EXPECT_EQ(crypto::SignFailureStatus(platform::kScardETimeout), kErrKeyDeviceTimeout);
  EXPECT_EQ(crypto::SignFailureStatus(platform::kNteNoKey), kErrHashSign);
}

}  // namespace
}  // namespace quillmark::crypto
