// SignedData builder and parser: packages built here verify with the real
// openssl command, messages openssl makes parse here, and malformed or
// foreign packages are refused with their own statuses.
#include "signeddata/signed_data.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/status.h"
#include "signeddata/asn1_reader.h"
#include "signeddata/asn1_writer.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::signeddata {
namespace {

using testing::CertSpec;
using testing::DerToPem;
using testing::EvpPkeyPtr;
using testing::NameBuilder;
using testing::RunShellCapture;
using testing::ScratchDir;
using testing::WriteBytes;

constexpr std::uint8_t kPrefix[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                    0xF7, 0x0D, 0x01, 0x07, 0x02, 0xA0};

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Content(std::size_t size) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  return out;
}

// Signs |data| with OpenSSL: PKCS#1 v1.5 for RSA keys; for SM2 keys the
// DER SEQUENCE { r, s } with the user ID 1234567812345678.
Bytes Sign(EVP_PKEY* key, const EVP_MD* md, ByteSpan data) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_PKEY_CTX* pctx = nullptr;
  if (EVP_PKEY_is_a(key, "SM2")) {
    pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16);
    EVP_MD_CTX_set_pkey_ctx(ctx, pctx);
  }
  std::size_t size = 0;
  Bytes sig;
  if (EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) == 1 &&
      EVP_DigestSign(ctx, nullptr, &size, data.data(), data.size()) == 1) {
    sig.resize(size);
    if (EVP_DigestSign(ctx, sig.data(), &size, data.data(), data.size()) == 1) {
      sig.resize(size);
    } else {
      sig.clear();
    }
  }
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_CTX_free(pctx);
  return sig;
}

// OpenSSL's own reading of a package.
struct OsslPkcs7 {
  explicit OsslPkcs7(ByteSpan der) {
    const unsigned char* p = der.data();
    p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  }
  ~OsslPkcs7() { PKCS7_free(p7); }
  PKCS7_SIGNER_INFO* signer() const {
    STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7);
    return infos != nullptr && sk_PKCS7_SIGNER_INFO_num(infos) == 1
               ? sk_PKCS7_SIGNER_INFO_value(infos, 0)
               : nullptr;
  }
  PKCS7* p7;
};

std::string OidText(const ASN1_OBJECT* oid) {
  char buf[80];
  OBJ_obj2txt(buf, sizeof buf, oid, 1);
  return buf;
}

class SignedDataTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rsa_key_ = testing::MakeRsaKey(2048).release();
    sm2_key_ = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    ASSERT_NE(sm2_key_, nullptr);
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(rsa_key_);
    EVP_PKEY_free(sm2_key_);
  }

  // A certificate for |key| whose serial's first content byte is 00, so the
  // package must keep it for the INTEGER to stay positive.
  static platform::CertContextPtr MakeCert(EVP_PKEY* key, const char* name) {
    CertSpec spec;
    spec.subject = NameBuilder().Add("C", "CN").Add("O", "Quillmark Test").Add("CN", name).Der();
    spec.subject_key = key;
    spec.issuer_key = rsa_key_;
    spec.serial = {0x00, 0xC3, 0x5A, 0x01, 0x7F};
    return platform::CertCreateCertificateContext(platform::kDefaultEncoding,
                                                  testing::MakeCertificate(spec));
  }

  int Openssl(const std::string& args, std::string* out) {
    return RunShellCapture("cd " + dir_.path() + " && openssl " + args + " 2>&1", out);
  }

  static EVP_PKEY* rsa_key_;
  static EVP_PKEY* sm2_key_;
  ScratchDir dir_;
};

EVP_PKEY* SignedDataTest::rsa_key_ = nullptr;
EVP_PKEY* SignedDataTest::sm2_key_ = nullptr;

TEST_F(SignedDataTest, RsaPackagesVerifyWithOpensslAndParseBack) {
  const auto cert = MakeCert(rsa_key_, "Zhang San");
  ASSERT_NE(cert, nullptr);
  const Bytes abc = {'a', 'b', 'c'};
  struct Case {
    std::string_view oid;
    const EVP_MD* md;
    bool detached;
    Bytes content;
  } cases[] = {
      {kSha1Oid, EVP_sha1(), false, abc},
      {kMd5Oid, EVP_md5(), false, Content(300)},  // line ends and NULs kept as they are
      {kSha1Oid, EVP_sha1(), true, Content(70000)},
      {kMd5Oid, EVP_md5(), true, abc},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.oid) + (c.detached ? " detached " : " attached ") +
                 std::to_string(c.content.size()));
    const Bytes signature = Sign(rsa_key_, c.md, c.content);
    ASSERT_EQ(signature.size(), 256u);
    Bytes package = {1, 2, 3};  // a previous buffer is replaced
    ASSERT_EQ(BuildRsaSignedData(c.detached, c.content, *cert, c.oid, signature, &package), kOk);

    // 30 <length> signedData [0]
    ASSERT_GT(package.size(), 16u);
    ASSERT_EQ(package[0], 0x30);
    std::size_t header = 2, length = package[1];
    if (length >= 0x80) {
      header += length & 0x7F;
      length = 0;
      for (std::size_t i = 2; i < header; ++i) length = length << 8 | package[i];
    }
    EXPECT_EQ(header + length, package.size());
    EXPECT_TRUE(std::equal(std::begin(kPrefix), std::end(kPrefix), package.begin() + header));

    // openssl finds the signer by issuer and serial among the embedded
    // certificates and checks the signature over the content.
    ASSERT_TRUE(WriteBytes(dir_.File("p7.der"), package));
    ASSERT_TRUE(WriteBytes(dir_.File("content.bin"), c.content));
    std::filesystem::remove(dir_.File("out.bin"));
    std::string out;
    const std::string detached_arg = c.detached ? " -content content.bin" : "";
    EXPECT_EQ(Openssl("smime -verify -inform DER -noverify -binary -in p7.der -out out.bin" +
                          detached_arg,
                      &out),
              0)
        << out;
    EXPECT_EQ(ReadAll(dir_.File("out.bin")), c.content);

    ParsedSignedData parsed;
    ASSERT_EQ(ParseRsaSignedData(package, /*want_content=*/true, &parsed), kOk);
    EXPECT_EQ(parsed.content, c.detached ? Bytes() : c.content);
    EXPECT_EQ(parsed.digest_oid, c.oid);
    EXPECT_EQ(parsed.signature, signature);
    ASSERT_NE(parsed.certificate, nullptr);
    EXPECT_TRUE(std::ranges::equal(parsed.certificate->der(), cert->der()));

    // A detached verification takes only packages without content.
    EXPECT_EQ(ParseRsaSignedData(package, /*want_content=*/false, &parsed),
              c.detached ? kOk : kErrInvalidSignature);
  }
}

TEST_F(SignedDataTest, OpensslMessagesParse) {
  const auto cert = MakeCert(rsa_key_, "Li Si");
  ASSERT_NE(cert, nullptr);
  ASSERT_TRUE(WriteBytes(dir_.File("cert.pem"), AsBytes(DerToPem(cert->der(), "CERTIFICATE"))));
  ASSERT_TRUE(WriteBytes(dir_.File("key.pem"), AsBytes(testing::PrivateKeyPem(rsa_key_))));
  const Bytes content = Content(1000);
  ASSERT_TRUE(WriteBytes(dir_.File("content.bin"), content));
  // PKCS#1 v1.5 is deterministic: openssl's signature must be this one.
  const Bytes expected_signature = Sign(rsa_key_, EVP_sha1(), content);

  for (bool detached : {false, true}) {
    SCOPED_TRACE(detached ? "detached" : "attached");
    std::string out;
    ASSERT_EQ(Openssl(std::string("smime -sign -noattr -md sha1 -binary -outform DER") +
                          (detached ? "" : " -nodetach") +
                          " -signer cert.pem -inkey key.pem -in content.bin -out p7.der",
                      &out),
              0)
        << out;
    const Bytes package = ReadAll(dir_.File("p7.der"));

    ParsedSignedData parsed;
    ASSERT_EQ(ParseRsaSignedData(package, /*want_content=*/true, &parsed), kOk);
    EXPECT_EQ(parsed.content, detached ? Bytes() : content);
    EXPECT_EQ(parsed.digest_oid, "1.3.14.3.2.26");
    EXPECT_EQ(parsed.signature, expected_signature);
    ASSERT_NE(parsed.certificate, nullptr);
    EXPECT_TRUE(std::ranges::equal(parsed.certificate->der(), cert->der()));
    EXPECT_EQ(ParseRsaSignedData(package, /*want_content=*/false, &parsed),
              detached ? kOk : kErrInvalidSignature);
  }
}

TEST_F(SignedDataTest, Sm2PackageSignatureVerifiesWithOpenssl) {
  const auto cert = MakeCert(sm2_key_, "Zhao Liu");
  ASSERT_NE(cert, nullptr);
  const Bytes content = Content(500);
  ASSERT_TRUE(WriteBytes(dir_.File("content.bin"), content));

  // Sign until each kind of half has been packaged and checked: r with its
  // top bit set (00 in front), r without, and a half whose value is shorter
  // than 32 bytes (00 then a byte below 0x80, about one signature in 256),
  // whose INTEGER must be shorter too for a strict verifier to take it.
  enum Kind { kHighR, kLowR, kShortHalf, kKinds };
  bool seen[kKinds] = {};
  for (int attempt = 0; attempt < 4000 && !(seen[kHighR] && seen[kLowR] && seen[kShortHalf]);
       ++attempt) {
    const Bytes der_sig = Sign(sm2_key_, EVP_sm3(), content);
    const unsigned char* p = der_sig.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der_sig.size()));
    ASSERT_NE(sig, nullptr);
    Bytes raw(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), raw.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), raw.data() + 32, 32);
    ECDSA_SIG_free(sig);
    auto short_half = [&](std::size_t at) { return raw[at] == 0 && raw[at + 1] < 0x80; };
    const Kind kind = short_half(0) || short_half(32) ? kShortHalf
                      : raw[0] >= 0x80                ? kHighR
                                                      : kLowR;
    if (seen[kind]) continue;
    seen[kind] = true;
    SCOPED_TRACE("r begins with " + std::to_string(raw[0]) + ", s with " + std::to_string(raw[32]));

    Bytes package;
    ASSERT_EQ(BuildSm2SignedData(false, content, *cert, kSm3Oid, raw, &package), kOk);
    ASSERT_TRUE(WriteBytes(dir_.File("p7.der"), package));

    // OpenSSL reads the package: SM3 and SM2 named, the content embedded,
    // and the encryptedDigest is the DER signature OpenSSL itself made.
    OsslPkcs7 parsed(package);
    ASSERT_NE(parsed.p7, nullptr);
    PKCS7_SIGNER_INFO* si = parsed.signer();
    ASSERT_NE(si, nullptr);
    EXPECT_EQ(OidText(si->digest_alg->algorithm), "1.2.156.10197.1.401");
    EXPECT_EQ(OidText(si->digest_enc_alg->algorithm), "1.2.156.10197.1.301");
    ASN1_OCTET_STRING* data = parsed.p7->d.sign->contents->d.data;
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(std::ranges::equal(ByteSpan(data->data, data->length), content));
    const ByteSpan enc(si->enc_digest->data, si->enc_digest->length);
    EXPECT_TRUE(std::ranges::equal(enc, der_sig));
    ASSERT_TRUE(WriteBytes(dir_.File("sig.der"), enc));

    // The public key comes from the certificate embedded in the package.
    std::string out;
    ASSERT_EQ(Openssl("pkcs7 -inform DER -in p7.der -print_certs -out certs.pem", &out), 0) << out;
    ASSERT_EQ(Openssl("x509 -in certs.pem -pubkey -noout -out pub.pem", &out), 0) << out;
    EXPECT_EQ(Openssl("dgst -sm3 -verify pub.pem -sigopt distid:1234567812345678 "
                      "-signature sig.der content.bin",
                      &out),
              0)
        << out;
    EXPECT_NE(out.find("Verified OK"), std::string::npos) << out;

    // The parser takes RSA packages only.
    ParsedSignedData rsa_only;
    EXPECT_EQ(ParseRsaSignedData(package, true, &rsa_only), kErrNotSignedData);
  }
  EXPECT_TRUE(seen[kHighR] && seen[kLowR] && seen[kShortHalf]);
}

TEST_F(SignedDataTest, Sm2IntegersArePositiveAndMinimal) {
  const auto cert = MakeCert(sm2_key_, "Zhao Liu");
  ASSERT_NE(cert, nullptr);
  // The first bytes of a 32-byte half and the first bytes of its INTEGER's
  // content; the remaining bytes (all 11) follow unchanged.
  struct Half {
    Bytes head;
    Bytes integer_head;
  };
  const Half halves[] = {
      {{0x80}, {0x00, 0x80}},        // top bit set: 33 bytes
      {{0x7F}, {0x7F}},              // 32 bytes
      {{0xFF}, {0x00, 0xFF}},        //
      {{0x00, 0x11}, {0x11}},        // a zero byte in front is not kept: 31
      {{0x00, 0x00, 0x11}, {0x11}},  // 30
      {{0x00, 0x90}, {0x00, 0x90}},  // ...unless the next byte needs it
  };
  auto Raw = [](const Half& h) {
    Bytes raw(32, 0x11);
    std::ranges::copy(h.head, raw.begin());
    return raw;
  };
  auto Integer = [](const Half& h) {
    Bytes tlv = {0x02, static_cast<std::uint8_t>(h.integer_head.size() + 32 - h.head.size())};
    tlv.insert(tlv.end(), h.integer_head.begin(), h.integer_head.end());
    tlv.insert(tlv.end(), 32 - h.head.size(), 0x11);
    return tlv;
  };
  for (std::size_t i = 0; i < std::size(halves); ++i) {
    const Half& r = halves[i];
    const Half& s = halves[(i + 1) % std::size(halves)];
    SCOPED_TRACE(i);
    Bytes raw = Raw(r);
    const Bytes raw_s = Raw(s);
    raw.insert(raw.end(), raw_s.begin(), raw_s.end());
    Bytes package;
    ASSERT_EQ(BuildSm2SignedData(true, {}, *cert, kSm3Oid, raw, &package), kOk);

    Bytes expected = Integer(r);
    const Bytes s_integer = Integer(s);
    expected.insert(expected.end(), s_integer.begin(), s_integer.end());
    expected.insert(expected.begin(), {0x30, static_cast<std::uint8_t>(expected.size())});
    OsslPkcs7 parsed(package);
    ASSERT_NE(parsed.signer(), nullptr);
    const ASN1_OCTET_STRING* enc = parsed.signer()->enc_digest;
    EXPECT_TRUE(std::ranges::equal(ByteSpan(enc->data, enc->length), expected));
    EXPECT_EQ(parsed.p7->d.sign->contents->d.data, nullptr);  // detached
  }
}

TEST_F(SignedDataTest, BuildersRefuseAndProduceNothing) {
  const auto rsa_cert = MakeCert(rsa_key_, "Zhang San");
  const auto sm2_cert = MakeCert(sm2_key_, "Zhao Liu");
  ASSERT_NE(rsa_cert, nullptr);
  ASSERT_NE(sm2_cert, nullptr);
  const Bytes content = {'a', 'b', 'c'};
  const Bytes rsa_sig(256, 0x5A);
  const Bytes sm2_sig(64, 0x5A);
  Bytes package = {1, 2, 3};

  for (std::string_view oid :
       {"2.16.840.1.101.3.4.2.1", "1.2.156.10197.1.401", "1.3.14.3.2.26 ", ""}) {
    SCOPED_TRACE(oid);
    package = {1};
    EXPECT_EQ(BuildRsaSignedData(false, content, *rsa_cert, oid, rsa_sig, &package),
              kErrBadAlgorithm);
    EXPECT_TRUE(package.empty());
  }
  for (std::string_view oid : {kSha1Oid, kMd5Oid}) {
    package = {1};
    EXPECT_EQ(BuildSm2SignedData(false, content, *sm2_cert, oid, sm2_sig, &package),
              kErrBadAlgorithm);
    EXPECT_TRUE(package.empty());
  }
  // Exactly 64 bytes are read: anything else is refused, never read past.
  for (std::size_t size : {0, 32, 63, 65, 128}) {
    SCOPED_TRACE(size);
    const Bytes sig(size, 0x5A);
    package = {1};
    EXPECT_EQ(BuildSm2SignedData(false, content, *sm2_cert, kSm3Oid, sig, &package), kErrDerEncode);
    EXPECT_TRUE(package.empty());
  }
}

// Rebuilds |package| with SignedData field |index| (0 to 4) replaced by the
// encoding |field|, or with only the first |index| fields when |field| is
// empty; |outer| replaces the outer content type.
Bytes Reshape(ByteSpan package, int index, ByteSpan field,
              std::vector<int> outer = {1, 2, 840, 113549, 1, 7, 2}) {
  std::vector<int> type;
  Bytes fields[5];
  auto reader = Asn1Reader::Create(package);
  EXPECT_EQ(Asn1Scan(*reader, "{O({$$$$$})}", &type, &fields[0], &fields[1], &fields[2], &fields[3],
                     &fields[4]),
            0);
  auto writer = Asn1Writer::Create();
  EXPECT_GE(Asn1Print(*writer, "{O({", outer, 0), 0);
  for (int i = 0; i < 5; ++i) {
    if (i == index && field.empty()) break;
    EXPECT_GE(Asn1Print(*writer, "A", i == index ? field : ByteSpan(fields[i])), 0);
  }
  EXPECT_GE(Asn1Print(*writer, "})}"), 0);
  return Bytes(writer->bytes().begin(), writer->bytes().end());
}

template <typename... Args>
Bytes Der(std::string_view format, const Args&... args) {
  auto writer = Asn1Writer::Create();
  EXPECT_GE(Asn1Print(*writer, format, args...), 0);
  EXPECT_EQ(writer->open_elements(), 0u);
  return Bytes(writer->bytes().begin(), writer->bytes().end());
}

TEST_F(SignedDataTest, ParserRefusesForeignAndMalformedPackages) {
  const auto cert = MakeCert(rsa_key_, "Zhang San");
  ASSERT_NE(cert, nullptr);
  const Bytes content = {'a', 'b', 'c'};
  const Bytes signature(256, 0x5A);
  // Detached, so that a refusal for content does not come first.
  Bytes package;
  ASSERT_EQ(BuildRsaSignedData(true, content, *cert, kSha1Oid, signature, &package), kOk);

  const std::vector<int> rsa = {1, 2, 840, 113549, 1, 1, 1};
  const std::vector<int> sha1 = {1, 3, 14, 3, 2, 26};
  auto SignerInfos = [&](const std::vector<int>& digest, const std::vector<int>& algorithm) {
    return Der("[{i{AI}{On}{On}o}]", 1, cert->issuer_der(), Asn1Hex{"00c35a017f"}, digest,
               algorithm, signature);
  };
  const Bytes garbage = {'a', 'b', 'c'};
  struct Case {
    const char* what;
    Bytes package;
    int status;
  } cases[] = {
      {"empty input", {}, kErrBerDecode},
      {"not DER", garbage, kErrBerDecode},
      {"truncated", Bytes(package.begin(), package.end() - 1), kErrBerDecode},
      {"four fields", Reshape(package, 4, {}), kErrBerDecode},
      {"envelopedData", Reshape(package, -1, {}, {1, 2, 840, 113549, 1, 7, 3}), kErrNotSignedData},
      {"content type not data",
       Reshape(package, 2, Der("{O(o)}", std::vector<int>{1, 2, 840, 113549, 1, 7, 2}, 0, content)),
       kErrNotSignedData},
      {"no signature",
       Reshape(package, 4,
               Der("[{i{AI}{On}{On}}]", 1, cert->issuer_der(), Asn1Hex{"01"}, sha1, rsa)),
       kErrBerDecode},
      {"SHA-256", Reshape(package, 4, SignerInfos({2, 16, 840, 1, 101, 3, 4, 2, 1}, rsa)),
       kErrNotSignedData},
      {"SM3 with RSA", Reshape(package, 4, SignerInfos({1, 2, 156, 10197, 1, 401}, rsa)),
       kErrBadAlgorithm},
      {"sha1WithRSAEncryption",
       Reshape(package, 4, SignerInfos(sha1, {1, 2, 840, 113549, 1, 1, 5})), kErrNotSignedData},
      {"no certificate", Reshape(package, 3, Der("(A)", 0, Bytes{})), kErrBerDecode},
      {"certificate not parseable", Reshape(package, 3, Der("({i})", 0, 5)), kErrCertContext},
      {"truncated certificate",
       Reshape(package, 3, Der("(A)", 0, cert->der().first(cert->der().size() - 1))),
       kErrBerDecode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool want_content : {true, false}) {
      ParsedSignedData parsed{{1}, cert, "x", {2}};
      EXPECT_EQ(ParseRsaSignedData(c.package, want_content, &parsed), c.status);
      EXPECT_TRUE(parsed.content.empty());
      EXPECT_EQ(parsed.certificate, nullptr);
      EXPECT_TRUE(parsed.digest_oid.empty());
      EXPECT_TRUE(parsed.signature.empty());
    }
  }

  // The reshaping itself keeps a good package good, and the SHA-1 and MD5
  // signer infos written here are accepted.
  ParsedSignedData parsed;
  EXPECT_EQ(ParseRsaSignedData(Reshape(package, 4, SignerInfos(sha1, rsa)), false, &parsed), kOk);
  EXPECT_EQ(parsed.signature, signature);
  EXPECT_EQ(ParseRsaSignedData(Reshape(package, 4, SignerInfos({1, 2, 840, 113549, 2, 5}, rsa)),
                               true, &parsed),
            kOk);
  EXPECT_EQ(parsed.digest_oid, kMd5Oid);
}

TEST_F(SignedDataTest, ParserTakesOnePackageAndNoLengthBeyondTheInput) {
  const auto cert = MakeCert(rsa_key_, "Wang Wu");
  ASSERT_NE(cert, nullptr);
  Bytes package;
  ASSERT_EQ(BuildRsaSignedData(false, Content(300), *cert, kSha1Oid, Bytes(256, 0x5A), &package),
            kOk);
  ParsedSignedData parsed;
  ASSERT_EQ(ParseRsaSignedData(package, true, &parsed), kOk);

  // Anything after the package: one byte, a second package.
  Bytes trailing = package;
  trailing.push_back(0);
  Bytes twice = package;
  twice.insert(twice.end(), package.begin(), package.end());
  // Lengths that claim about 2 GiB, of the outer value and of the first
  // field, in an input of a few hundred bytes.
  ASSERT_EQ(package[1], 0x82);  // the builder's two-octet outer length
  Bytes outer_claims = package;
  outer_claims[1] = 0x84;
  outer_claims.insert(outer_claims.begin() + 2, {0x7F, 0xFF});
  Bytes tiny = {0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xF0, 0x06, 0x09, 0x2A,
                0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
  tiny.resize(100, 0xA0);
  for (const Bytes* bad : {&trailing, &twice, &outer_claims, &tiny}) {
    EXPECT_EQ(ParseRsaSignedData(*bad, true, &parsed), kErrBerDecode) << bad->size();
    EXPECT_TRUE(parsed.content.empty());
    EXPECT_EQ(parsed.certificate, nullptr);
  }
}

}  // namespace
}  // namespace quillmark::signeddata
