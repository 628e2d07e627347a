// The Windows message backend against the system's crypt32, under wine or
// on Windows: signatures made and checked, envelopes made (and opened where
// the system can), the error values callers see, and the files that the
// interop step hands to the openssl command.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <ios>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message/message.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"
#include "win/win_test_pki.h"

namespace quillmark::platform {
namespace {

using qmwintest::CertProfile;
using qmwintest::RunningUnderWine;
using qmwintest::SystemCertPtr;
using qmwintest::TestContainer;
using qmwintest::TestStore;

const Bytes kContent = {'q', 'u', 'i', 'l', 'l', 'm', 'a', 'r', 'k', ' ', 's', 'i', 'g', 'n'};

// One signer: an RSA exchange key in a test container and its self-signed
// certificate (digital signature and key encipherment) in a test store.
class MessageWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(key_.ok()) << ::GetLastError();
    ASSERT_NE(store_.get(), nullptr);
    CertProfile profile;
    profile.subject = L"CN=Quillmark Signer, O=Quillmark Tests";
    profile.key_usage = CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_KEY_ENCIPHERMENT_KEY_USAGE;
    SystemCertPtr made(qmwintest::MakeCertificate(key_, profile, key_, nullptr));
    ASSERT_NE(made, nullptr) << std::hex << ::GetLastError();
    signer_ = store_.Add(made.get());
    ASSERT_NE(signer_, nullptr);
  }

  CryptSignMessagePara SignPara(const char* digest_oid) const {
    CryptSignMessagePara para;
    para.signing_cert = signer_;
    para.hash_algorithm_oid = digest_oid;
    para.msg_certs = {signer_};
    return para;
  }

  Bytes Sign(bool detached, const char* digest_oid = kOidSha256) const {
    Bytes blob;
    EXPECT_TRUE(CryptSignMessage(SignPara(digest_oid), detached, kContent, &blob))
        << std::hex << GetLastError();
    return blob;
  }

  TestContainer key_{L"QuillmarkMessageWinTest"};
  TestStore store_{L"QuillmarkMessageWinTest"};
  CertContextPtr signer_;
};

// The DER of an OBJECT IDENTIFIER (tag, length, arcs in base 128).
Bytes OidDer(const std::string& dotted) {
  std::vector<std::uint32_t> arcs;
  std::size_t pos = 0;
  while (pos <= dotted.size()) {
    std::size_t dot = dotted.find('.', pos);
    if (dot == std::string::npos) dot = dotted.size();
    arcs.push_back(static_cast<std::uint32_t>(std::stoul(dotted.substr(pos, dot - pos))));
    pos = dot + 1;
  }
  Bytes body;
  auto put = [&](std::uint32_t v) {
    Bytes chunk = {static_cast<std::uint8_t>(v & 0x7F)};
    while ((v >>= 7) != 0)
      chunk.insert(chunk.begin(), static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
    body.insert(body.end(), chunk.begin(), chunk.end());
  };
  put(arcs[0] * 40 + arcs[1]);
  for (std::size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
  Bytes der = {0x06, static_cast<std::uint8_t>(body.size())};
  der.insert(der.end(), body.begin(), body.end());
  return der;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// What the system's own decoder reads from an envelope: its type, its one
// recipient, and the content once |key| (the recipient's container) opens
// it through the low-level message calls.
struct EnvelopeFacts {
  DWORD type = 0;
  DWORD recipients = 0;
  bool names_recipient = false;
  bool opened = false;
  Bytes content;
};

EnvelopeFacts ReadEnvelope(const Bytes& blob, PCCERT_CONTEXT recipient, HCRYPTPROV key) {
  EnvelopeFacts facts;
  HCRYPTMSG msg = CryptMsgOpenToDecode(kDefaultEncoding, 0, 0, 0, nullptr, nullptr);
  if (msg == nullptr) return facts;
  if (CryptMsgUpdate(msg, blob.data(), static_cast<DWORD>(blob.size()), TRUE)) {
    DWORD size = sizeof(facts.type);
    CryptMsgGetParam(msg, CMSG_TYPE_PARAM, 0, &facts.type, &size);
    size = sizeof(facts.recipients);
    CryptMsgGetParam(msg, CMSG_RECIPIENT_COUNT_PARAM, 0, &facts.recipients, &size);
    size = 0;
    if (CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, 0, nullptr, &size)) {
      std::vector<BYTE> buffer(size);
      if (CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, 0, buffer.data(), &size)) {
        auto* info = reinterpret_cast<CERT_INFO*>(buffer.data());
        facts.names_recipient =
            CertCompareCertificateName(X509_ASN_ENCODING, &info->Issuer,
                                       &recipient->pCertInfo->Issuer) &&
            ::CertCompareIntegerBlob(&info->SerialNumber, &recipient->pCertInfo->SerialNumber);
      }
    }
    CMSG_CTRL_DECRYPT_PARA decrypt = {};
    decrypt.cbSize = sizeof(decrypt);
    decrypt.hCryptProv = key;
    decrypt.dwKeySpec = AT_KEYEXCHANGE;
    decrypt.dwRecipientIndex = 0;
    size = 0;
    if (CryptMsgControl(msg, 0, CMSG_CTRL_DECRYPT, &decrypt) &&
        CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, nullptr, &size)) {
      facts.content.resize(size);
      facts.opened =
          CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, facts.content.data(), &size) != FALSE;
      facts.content.resize(size);
    }
  }
  CryptMsgClose(msg);
  return facts;
}

TEST_F(MessageWinTest, AttachedSignatureVerifiesAndGivesContentAndSigner) {
  for (const char* digest : {kOidSha1, kOidSha256, kOidSha512}) {
    SCOPED_TRACE(digest);
    Bytes blob = Sign(false, digest);
    ASSERT_FALSE(blob.empty());
    Bytes content;
    CertContextPtr signer;
    ASSERT_TRUE(CryptVerifyMessageSignature({}, 0, blob, &content, &signer))
        << std::hex << GetLastError();
    EXPECT_EQ(content, kContent);
    ASSERT_NE(signer, nullptr);
    EXPECT_EQ(signer->thumbprint(), signer_->thumbprint());
    // Either output may be left out.
    EXPECT_TRUE(CryptVerifyMessageSignature({}, 0, blob, nullptr, nullptr));
  }
}

TEST_F(MessageWinTest, DetachedSignatureCarriesNoContentAndVerifiesAgainstIt) {
  Bytes detached = Sign(true);
  Bytes attached = Sign(false);
  ASSERT_FALSE(detached.empty());
  EXPECT_LT(detached.size() + kContent.size(), attached.size() + 1);
  CertContextPtr signer;
  ASSERT_TRUE(CryptVerifyDetachedMessageSignature({}, 0, detached, kContent, &signer))
      << std::hex << GetLastError();
  ASSERT_NE(signer, nullptr);
  EXPECT_EQ(signer->thumbprint(), signer_->thumbprint());
}

TEST_F(MessageWinTest, TamperedContentFailsWithBadSignature) {
  Bytes detached = Sign(true);
  Bytes other = kContent;
  other.back() ^= 1;
  CertContextPtr signer;
  EXPECT_FALSE(CryptVerifyDetachedMessageSignature({}, 0, detached, other, &signer));
  EXPECT_EQ(GetLastError(), kNteBadSignature);
  EXPECT_EQ(signer, nullptr);

  // The same change inside an attached message.
  Bytes attached = Sign(false);
  auto at = std::search(attached.begin(), attached.end(), kContent.begin(), kContent.end());
  ASSERT_NE(at, attached.end());
  at[kContent.size() - 1] ^= 1;
  Bytes content = {1, 2, 3};
  EXPECT_FALSE(CryptVerifyMessageSignature({}, 0, attached, &content, &signer));
  EXPECT_EQ(GetLastError(), kNteBadSignature);
  EXPECT_TRUE(content.empty());
}

TEST_F(MessageWinTest, MessagesThatCannotBeVerifiedSayWhy) {
  Bytes content;
  CertContextPtr signer;
  const Bytes garbage = {0x30, 0x03, 0x02, 0x01, 0x05};
  EXPECT_FALSE(CryptVerifyMessageSignature({}, 0, garbage, &content, &signer));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
  EXPECT_FALSE(CryptVerifyMessageSignature({}, 0, Bytes(), &content, &signer));
  EXPECT_EQ(GetLastError(), kCryptEOssError);

  Bytes blob = Sign(false);
  EXPECT_FALSE(CryptVerifyMessageSignature({}, 1, blob, &content, &signer));
  EXPECT_EQ(GetLastError(), kCryptENoSigner);
  CryptVerifyMessagePara x509_only;
  x509_only.msg_and_cert_encoding_type = kX509AsnEncoding;
  EXPECT_FALSE(CryptVerifyMessageSignature(x509_only, 0, blob, &content, &signer));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  // A signature without the signer's certificate cannot name a signer.
  CryptSignMessagePara bare = SignPara(kOidSha256);
  bare.msg_certs.clear();
  Bytes without;
  ASSERT_TRUE(CryptSignMessage(bare, false, kContent, &without));
  EXPECT_FALSE(CryptVerifyMessageSignature({}, 0, without, &content, &signer));
  EXPECT_EQ(GetLastError(), kCryptENotFound);

  Bytes envelope;
  CryptEncryptMessagePara encrypt;
  ASSERT_TRUE(CryptEncryptMessage(encrypt, std::span(&signer_, 1), kContent, &envelope))
      << std::hex << GetLastError();
  EXPECT_FALSE(CryptVerifyMessageSignature({}, 0, envelope, &content, &signer));
  EXPECT_EQ(GetLastError(), kCryptEUnexpectedMsgType);
}

TEST_F(MessageWinTest, SigningRefusesWhatTheSystemCannotDo) {
  Bytes blob = {9};
  // SM3 and unknown digests: no provider of the system has them.
  for (const char* digest : {kOidSm3, "1.2.3.4", "1.2.840.113549.1.1.1"}) {
    SCOPED_TRACE(digest);
    EXPECT_FALSE(CryptSignMessage(SignPara(digest), false, kContent, &blob));
    EXPECT_EQ(GetLastError(), kNteBadAlgId);
    EXPECT_TRUE(blob.empty());
  }
  // A certificate without a key-provider property has no key to sign with.
  SystemCertPtr keyless(::CertCreateCertificateContext(X509_ASN_ENCODING, signer_->der().data(),
                                                       static_cast<DWORD>(signer_->der().size())));
  ASSERT_NE(keyless, nullptr);
  CryptSignMessagePara para = SignPara(kOidSha256);
  para.signing_cert = WrapCertContext(keyless.get(), "");
  ASSERT_NE(para.signing_cert, nullptr);
  EXPECT_FALSE(CryptSignMessage(para, false, kContent, &blob));
  EXPECT_EQ(GetLastError(), kCryptENoKeyProperty);

  para.signing_cert = nullptr;
  EXPECT_FALSE(CryptSignMessage(para, false, kContent, &blob));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CryptSignMessage(SignPara(kOidSha256), false, kContent, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

// Envelopes |kContent| with the cipher of |oid| for the signer and checks
// what the system's decoder reads back, down to the opened content.
void ExpectEnvelopeFor(const char* oid, const CertContextPtr& recipient, HCRYPTPROV key) {
  SCOPED_TRACE(oid);
  CryptEncryptMessagePara para;
  para.content_encryption_oid = oid;
  Bytes envelope;
  ASSERT_TRUE(CryptEncryptMessage(para, std::span(&recipient, 1), kContent, &envelope))
      << std::hex << GetLastError();
  EXPECT_TRUE(Contains(envelope, OidDer(oid)));
  // The content is not there in the clear.
  EXPECT_FALSE(Contains(envelope, kContent));
  EnvelopeFacts facts = ReadEnvelope(envelope, CertContextHandle(*recipient), key);
  EXPECT_EQ(facts.type, static_cast<DWORD>(CMSG_ENVELOPED));
  EXPECT_EQ(facts.recipients, 1u);
  EXPECT_TRUE(facts.names_recipient);
  EXPECT_TRUE(facts.opened) << std::hex << ::GetLastError();
  EXPECT_EQ(facts.content, kContent);
}

TEST_F(MessageWinTest, EnvelopeNamesItsCipherAndOpensForItsRecipient) {
  ExpectEnvelopeFor(kOidRc4, signer_, key_.prov());
  ExpectEnvelopeFor(kOidDesEde3Cbc, signer_, key_.prov());
}

TEST_F(MessageWinTest, AesEnvelopeOpensForItsRecipient) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "wine lacks AES content encryption in CryptEncryptMessage";
  }
  ExpectEnvelopeFor(kOidAes128Cbc, signer_, key_.prov());
  ExpectEnvelopeFor(kOidAes256Cbc, signer_, key_.prov());
}

TEST_F(MessageWinTest, EnvelopeRefusesWhatTheSystemCannotDo) {
  Bytes envelope = {9};
  CryptEncryptMessagePara para;
  for (const char* oid : {kOidSm4, kOidSm4Cbc, "1.2.3.4"}) {
    SCOPED_TRACE(oid);
    para.content_encryption_oid = oid;
    EXPECT_FALSE(CryptEncryptMessage(para, std::span(&signer_, 1), kContent, &envelope));
    EXPECT_EQ(GetLastError(), kNteBadAlgId);
    EXPECT_TRUE(envelope.empty());
  }
  para.content_encryption_oid = kOidRc4;
  // A recipient whose key is SM2: no provider here transports a key to it.
  CertProfile sm2_profile;
  sm2_profile.subject = L"CN=Quillmark SM2 Recipient";
  sm2_profile.foreign_key_oid = "1.2.156.10197.1.301";
  SystemCertPtr sm2(qmwintest::MakeCertificate(key_, sm2_profile, key_, nullptr));
  ASSERT_NE(sm2, nullptr);
  const CertContextPtr sm2_recipient[] = {WrapCertContext(sm2.get(), "")};
  EXPECT_FALSE(CryptEncryptMessage(para, sm2_recipient, kContent, &envelope));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
  EXPECT_FALSE(CryptEncryptMessage(para, {}, kContent, &envelope));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  const CertContextPtr missing[] = {signer_, nullptr};
  EXPECT_FALSE(CryptEncryptMessage(para, missing, kContent, &envelope));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(MessageWinTest, EnvelopeOpensWithTheRecipientKeyInTheStores) {
  if (RunningUnderWine()) GTEST_SKIP() << "wine lacks CryptDecryptMessage";
  CertStore stores[] = {CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                                      kCertSystemStoreCurrentUser, store_.name16())};
  ASSERT_TRUE(stores[0].is_open());
  for (const char* oid : {kOidRc4, kOidDesEde3Cbc, kOidAes256Cbc}) {
    SCOPED_TRACE(oid);
    CryptEncryptMessagePara para;
    para.content_encryption_oid = oid;
    Bytes envelope;
    ASSERT_TRUE(CryptEncryptMessage(para, std::span(&signer_, 1), kContent, &envelope));
    CryptDecryptMessagePara open;
    open.cert_stores = stores;
    Bytes content;
    CertContextPtr recipient;
    ASSERT_TRUE(CryptDecryptMessage(open, envelope, &content, &recipient))
        << std::hex << GetLastError();
    EXPECT_EQ(content, kContent);
    ASSERT_NE(recipient, nullptr);
    EXPECT_EQ(recipient->thumbprint(), signer_->thumbprint());
    EXPECT_EQ(recipient->store_name(), store_.name());

    CryptDecryptMessagePara nowhere;
    EXPECT_FALSE(CryptDecryptMessage(nowhere, envelope, &content, &recipient));
    EXPECT_EQ(GetLastError(), kCryptENoDecryptCert);
  }
}

TEST_F(MessageWinTest, SignedEnvelopeRoundTrip) {
  if (RunningUnderWine()) GTEST_SKIP() << "wine lacks CryptSignAndEncryptMessage";
  Bytes blob;
  ASSERT_TRUE(
      CryptSignAndEncryptMessage(SignPara(kOidSha256), {}, std::span(&signer_, 1), kContent, &blob))
      << std::hex << GetLastError();
  EXPECT_EQ(ReadEnvelope(blob, CertContextHandle(*signer_), key_.prov()).type,
            static_cast<DWORD>(CMSG_ENVELOPED));
  CertStore stores[] = {CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding,
                                      kCertSystemStoreCurrentUser, store_.name16())};
  CryptDecryptMessagePara open;
  open.cert_stores = stores;
  Bytes content;
  CertContextPtr recipient, signer;
  ASSERT_TRUE(
      CryptDecryptAndVerifyMessageSignature(open, {}, 0, blob, &content, &recipient, &signer))
      << std::hex << GetLastError();
  EXPECT_EQ(content, kContent);
  ASSERT_NE(recipient, nullptr);
  ASSERT_NE(signer, nullptr);
  EXPECT_EQ(signer->thumbprint(), signer_->thumbprint());
  EXPECT_EQ(recipient->thumbprint(), signer_->thumbprint());
}

TEST(MessageWinHashTest, ComputedHashIsTheDigestOfTheContent) {
  const Bytes abc = {'a', 'b', 'c'};
  Bytes hash;
  ASSERT_TRUE(CryptHashMessage({}, abc, &hash)) << std::hex << GetLastError();
  // FIPS 180 test vectors for "abc".
  EXPECT_EQ(HexUpper(hash), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  CryptHashMessagePara sha256;
  sha256.hash_algorithm_oid = kOidSha256;
  ASSERT_TRUE(CryptHashMessage(sha256, abc, &hash)) << std::hex << GetLastError();
  EXPECT_EQ(HexUpper(hash), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");

  CryptHashMessagePara sm3;
  sm3.hash_algorithm_oid = kOidSm3;
  EXPECT_FALSE(CryptHashMessage(sm3, abc, &hash));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
  EXPECT_TRUE(hash.empty());
}

// The step of message_interop.sh that runs here: verifies what openssl
// signed (attached with and without attributes, detached) and writes an
// attached and a detached signature for openssl to verify. Only that script
// sets the folder.
TEST_F(MessageWinTest, ExchangesMessagesWithOpenssl) {
  const char* dir = std::getenv("QUILLMARK_INTEROP_DIR");
  if (dir == nullptr || *dir == '\0') {
    GTEST_SKIP() << "QUILLMARK_INTEROP_DIR is set only by message_interop.sh";
  }
  auto path = [&](const char* name) { return std::string(dir) + "\\" + name; };
  auto read = [&](const char* name) {
    std::ifstream in(path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const Bytes openssl_content = read("openssl-content.bin");
  ASSERT_FALSE(openssl_content.empty());
  for (const char* name : {"openssl-noattr.p7", "openssl-attr.p7"}) {
    SCOPED_TRACE(name);
    Bytes content;
    CertContextPtr signer;
    ASSERT_TRUE(CryptVerifyMessageSignature({}, 0, read(name), &content, &signer))
        << std::hex << GetLastError();
    EXPECT_EQ(content, openssl_content);
    ASSERT_NE(signer, nullptr);
    EXPECT_EQ(CertGetNameStringW(*signer, kCertNameSimpleDisplayType, 0), u"OpenSSL Signer");
  }
  CertContextPtr signer;
  EXPECT_TRUE(CryptVerifyDetachedMessageSignature({}, 0, read("openssl-detached.p7"),
                                                  openssl_content, &signer))
      << std::hex << GetLastError();
  // Its signature covers attributes, whose messageDigest must match the
  // content: other content fails, inside the message or beside it.
  EXPECT_FALSE(
      CryptVerifyDetachedMessageSignature({}, 0, read("openssl-detached.p7"), kContent, &signer));
  EXPECT_EQ(GetLastError(), kCryptEHashValue);
  Bytes changed = read("openssl-attr.p7");
  auto at =
      std::search(changed.begin(), changed.end(), openssl_content.begin(), openssl_content.end());
  ASSERT_NE(at, changed.end());
  *at ^= 1;
  Bytes content;
  EXPECT_FALSE(CryptVerifyMessageSignature({}, 0, changed, &content, &signer));
  EXPECT_EQ(GetLastError(), kCryptEHashValue);

  auto write = [&](const char* name, const Bytes& bytes) {
    std::ofstream out(path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << name;
  };
  write("content.bin", kContent);
  write("attached.p7", Sign(false));
  write("detached.p7", Sign(true));
}

}  // namespace
}  // namespace quillmark::platform
