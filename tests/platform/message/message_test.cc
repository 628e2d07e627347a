// Signed messages, envelopes, nested messages and digests made and opened
// by the message services.
#include "platform/message/message.h"
#include "platform/openssl/openssl_providers.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "message_fixture.h"
#include "platform/keys/key_provider_internal.h"
#include "platform/message/message_internal.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context_internal.h"

namespace quillmark::platform {
namespace {

std::string Hex(const Bytes& b) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::uint8_t c : b) s += {digits[c >> 4], digits[c & 15]};
  return s;
}

// Decodes, changes and re-encodes a message.
Bytes Rewrite(const Bytes& der, const std::function<void(PKCS7*)>& change) {
  TestPkcs7 p7 = DecodePkcs7(der);
  EXPECT_NE(p7, nullptr);
  change(p7.get());
  return EncodePkcs7(p7.get());
}

std::string AlgorithmOid(const X509_ALGOR* alg) { return msg::OidText(alg->algorithm); }

TEST_F(MessageTest, SignedMessagesRoundTripForEveryDigest) {
  for (const char* oid : {kOidMd5, kOidSha1, kOidSha256, kOidSha384, kOidSha512}) {
    for (bool detached : {false, true}) {
      SCOPED_TRACE(std::string(oid) + (detached ? " detached" : " attached"));
      Bytes blob;
      ASSERT_TRUE(CryptSignMessage(SignPara(alice_, oid), detached, data_, &blob));
      TestPkcs7 p7 = DecodePkcs7(blob);
      ASSERT_TRUE(p7 && PKCS7_type_is_signed(p7.get()));
      PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0);
      EXPECT_EQ(sk_PKCS7_SIGNER_INFO_num(p7->d.sign->signer_info), 1);
      EXPECT_LE(sk_X509_ATTRIBUTE_num(si->auth_attr), 0);
      EXPECT_EQ(AlgorithmOid(si->digest_alg), oid);
      ASSERT_EQ(sk_X509_num(p7->d.sign->cert), 1);
      EXPECT_EQ(X509_cmp(sk_X509_value(p7->d.sign->cert, 0), CertContextX509(*alice_)), 0);
      EXPECT_EQ(PKCS7_get_detached(p7.get()), detached ? 1 : 0);

      Bytes content = {'x'};
      CertContextPtr signer;
      if (!detached) {
        ASSERT_TRUE(CryptVerifyMessageSignature({}, 0, blob, &content, &signer));
        EXPECT_EQ(content, data_);
      } else {
        ASSERT_TRUE(CryptVerifyDetachedMessageSignature({}, 0, blob, data_, &signer));
        Bytes longer = data_;
        longer.push_back('x');
        for (const Bytes& wrong : {longer, Bytes()}) {
          SetLastError(0);
          EXPECT_FALSE(CryptVerifyDetachedMessageSignature({}, 0, blob, wrong, &signer));
          EXPECT_EQ(GetLastError(), kNteBadSignature);
          EXPECT_EQ(signer, nullptr);
        }
        ASSERT_TRUE(CryptVerifyDetachedMessageSignature({}, 0, blob, data_, &signer));
        // Checked as attached, the absent content is empty content.
        EXPECT_FALSE(CryptVerifyMessageSignature({}, 0, blob, &content, nullptr));
        EXPECT_EQ(GetLastError(), kNteBadSignature);
        EXPECT_TRUE(content.empty());
      }
      ASSERT_NE(signer, nullptr);
      EXPECT_EQ(signer->thumbprint(), alice_->thumbprint());
    }
  }
  Bytes blob, content = {'x'};
  ASSERT_TRUE(CryptSignMessage(SignPara(alice_), false, Bytes(), &blob));
  ASSERT_TRUE(CryptVerifyMessageSignature({}, 0, blob, &content, nullptr));
  EXPECT_TRUE(content.empty());
}

TEST_F(MessageTest, DamagedOrForeignMessagesAreRefused) {
  Bytes blob, envelope;
  ASSERT_TRUE(CryptSignMessage(SignPara(alice_), false, data_, &blob));
  ASSERT_TRUE(CryptEncryptMessage({}, std::span(&alice_, 1), data_, &envelope));
  Bytes content_changed = blob;
  auto at = std::search(content_changed.begin(), content_changed.end(), data_.begin(), data_.end());
  ASSERT_NE(at, content_changed.end());
  *at ^= 1;
  Bytes signature_changed = blob;
  signature_changed.back() ^= 1;  // the signature closes the message
  Bytes truncated(blob.begin(), blob.end() - 1);
  Bytes trailing = blob;
  trailing.push_back(0);
  CryptSignMessagePara no_certs = SignPara(alice_);
  no_certs.msg_certs.clear();
  Bytes without_cert;
  ASSERT_TRUE(CryptSignMessage(no_certs, false, data_, &without_cert));

  const struct {
    const char* name;
    Bytes blob;
    std::uint32_t signer_index;
    std::uint32_t error;
  } cases[] = {
      {"content changed", content_changed, 0, kNteBadSignature},
      {"signature changed", signature_changed, 0, kNteBadSignature},
      {"truncated", truncated, 0, kCryptEOssError},
      {"trailing byte", trailing, 0, kCryptEOssError},
      {"garbage", Bytes({'h', 'e', 'l', 'l', 'o'}), 0, kCryptEOssError},
      {"empty", Bytes(), 0, kCryptEOssError},
      {"second signer", blob, 1, kCryptENoSigner},
      {"no certificate", without_cert, 0, kCryptENotFound},
      {"envelope", envelope, 0, kCryptEUnexpectedMsgType},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes content = {'x'};
    CertContextPtr signer = bob_;
    SetLastError(0);
    EXPECT_FALSE(CryptVerifyMessageSignature({}, c.signer_index, c.blob, &content, &signer));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_TRUE(content.empty());
    EXPECT_EQ(signer, nullptr);
  }
  EXPECT_TRUE(CryptVerifyMessageSignature({}, 0, blob, nullptr, nullptr));
}

TEST_F(MessageTest, SigningNeedsAUsableKeyAndAKnownDigest) {
  CertContextPtr wrong_key = CertCreateCertificateContext(kDefaultEncoding, alice_->der());
  KeyProvInfo bobs = bob_->key_prov_info().value();
  ASSERT_TRUE(CertSetCertificateContextProperty(*wrong_key, kCertKeyProvInfoPropId, 0, &bobs));
  CertContextPtr missing = CertCreateCertificateContext(kDefaultEncoding, alice_->der());
  KeyProvInfo gone{u"no-such-container", u"", kProvRsaFull, 0, kAtKeyExchange};
  ASSERT_TRUE(CertSetCertificateContextProperty(*missing, kCertKeyProvInfoPropId, 0, &gone));
  const struct {
    const char* name;
    CertContextPtr signer;
    std::string oid;
    std::uint32_t error;
  } cases[] = {
      {"unknown OID", alice_, "1.2.3.4", kNteBadAlgId},
      {"empty OID", alice_, "", kNteBadAlgId},
      {"signature OID", alice_, "1.2.840.113549.1.1.5", kNteBadAlgId},
      {"no key property", carol_, kOidSha1, kCryptENoKeyProperty},
      {"key of another certificate", wrong_key, kOidSha1, kCryptENoKeyProperty},
      {"container missing", missing, kOidSha1, kCryptENoKeyProperty},
      {"SM2 key with SHA-1", sm2_, kOidSha1, kNteBadAlgId},
      {"no signer", nullptr, kOidSha1, kErrorInvalidParameter},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes blob = {1, 2, 3};
    SetLastError(0);
    EXPECT_FALSE(CryptSignMessage(SignPara(c.signer, c.oid), false, data_, &blob));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_TRUE(blob.empty());
    EXPECT_FALSE(CryptSignAndEncryptMessage(SignPara(c.signer, c.oid), {}, std::span(&bob_, 1),
                                            data_, &blob));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(MessageTest, Sm2SignerSignsSm3OverTheIdentityHash) {
  for (bool detached : {false, true}) {
    Bytes blob;
    ASSERT_TRUE(CryptSignMessage(SignPara(sm2_, kOidSm3), detached, data_, &blob));
    CertContextPtr signer;
    if (detached) {
      ASSERT_TRUE(CryptVerifyDetachedMessageSignature({}, 0, blob, data_, &signer));
      EXPECT_FALSE(CryptVerifyDetachedMessageSignature({}, 0, blob, Bytes({'x'}), nullptr));
      EXPECT_EQ(GetLastError(), kNteBadSignature);
    } else {
      Bytes content;
      ASSERT_TRUE(CryptVerifyMessageSignature({}, 0, blob, &content, &signer));
      EXPECT_EQ(content, data_);
    }
    EXPECT_EQ(signer->thumbprint(), sm2_->thumbprint());
    // The encrypted digest is a plain SM2 signature with the default user ID.
    TestPkcs7 p7 = DecodePkcs7(blob);
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0);
    ossl::MdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;  // owned by ctx
    ASSERT_EQ(EVP_DigestVerifyInit(ctx.get(), &pctx, EVP_sm3(), nullptr, sm2_key_), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16), 1);
    EXPECT_EQ(EVP_DigestVerify(ctx.get(), si->enc_digest->data, si->enc_digest->length,
                               data_.data(), data_.size()),
              1);
  }
}

// A provider whose one container holds Alice's key, counts signatures and
// can be told to report a user cancel, as a token would.
struct TokenState {
  int signatures = 0;
  bool cancel = false;
};

class TokenContainer : public KeyContainer {
 public:
  TokenContainer(EVP_PKEY* key, TokenState* state) : key_(key), state_(state) {}
  std::uint32_t GetPublicKey(std::uint32_t, ossl::PkeyPtr* out) override {
    EVP_PKEY_up_ref(key_);
    out->reset(key_);
    return 0;
  }
  std::uint32_t SignDigest(std::uint32_t, const EVP_MD* md, ByteSpan digest,
                           Bytes* signature) override {
    if (state_->cancel) return kScardWCancelledByUser;
    ++state_->signatures;
    ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key_, nullptr));
    size_t len = 512;
    signature->resize(len);
    if (EVP_PKEY_sign_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_signature_md(ctx.get(), md) <= 0 ||
        EVP_PKEY_sign(ctx.get(), signature->data(), &len, digest.data(), digest.size()) <= 0) {
      return kNteFail;
    }
    signature->resize(len);
    return 0;
  }
  std::uint32_t PutPrivateKey(std::uint32_t, EVP_PKEY*) override { return kNteFail; }

 private:
  EVP_PKEY* key_;
  TokenState* state_;
};

class TokenProvider : public KeyProviderBackend {
 public:
  TokenProvider(EVP_PKEY* key, TokenState* state) : key_(key), state_(state) {}
  std::uint32_t OpenContainer(const std::string&, std::unique_ptr<KeyContainer>* out) override {
    *out = std::make_unique<TokenContainer>(key_, state_);
    return 0;
  }
  std::uint32_t CreateContainer(const std::string&, std::unique_ptr<KeyContainer>*) override {
    return kNteFail;
  }
  std::uint32_t DeleteContainer(const std::string&) override { return kNteFail; }

 private:
  EVP_PKEY* key_;
  TokenState* state_;
};

TEST_F(MessageTest, KeysAreUsedThroughTheirProvider) {
  static TokenState state;
  RegisterKeyProviderBackend(u"Message Test Token",
                             std::make_shared<TokenProvider>(alice_key_, &state));
  CertStore token = Open(u"Token");
  CertContextPtr on_token;
  ASSERT_TRUE(CertAddEncodedCertificateToStore(token, kDefaultEncoding, alice_->der(),
                                               kCertStoreAddNew, &on_token));
  KeyProvInfo info{u"card", u"Message Test Token", kProvRsaFull, 0, kAtSignature};
  ASSERT_TRUE(CertSetCertificateContextProperty(*on_token, kCertKeyProvInfoPropId, 0, &info));

  Bytes blob;
  ASSERT_TRUE(CryptSignMessage(SignPara(on_token, kOidSha256), false, data_, &blob));
  EXPECT_EQ(state.signatures, 1);
  EXPECT_TRUE(CryptVerifyMessageSignature({}, 0, blob, nullptr, nullptr));
  state.cancel = true;
  EXPECT_FALSE(CryptSignMessage(SignPara(on_token), false, data_, &blob));
  EXPECT_EQ(GetLastError(), kScardWCancelledByUser);
  // The token cannot unwrap envelope keys: the recipient is found, its
  // provider refuses.
  Bytes envelope;
  ASSERT_TRUE(CryptEncryptMessage({}, std::span(&alice_, 1), data_, &envelope));
  EXPECT_FALSE(CryptDecryptMessage(DecryptPara(std::span(&token, 1)), envelope, &blob, nullptr));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
}

TEST_F(MessageTest, EnvelopesRoundTripForEveryCipher) {
  const struct {
    const char* oid;
    int iv_len;  // 0: no parameters
  } ciphers[] = {{kOidRc4, 0},        {kOidDesEde3Cbc, 8}, {kOidAes128Cbc, 16}, {kOidAes192Cbc, 16},
                 {kOidAes256Cbc, 16}, {kOidSm4, 16},       {kOidSm4Cbc, 16}};
  Bytes large(100000);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7);
  CertStore stores[] = {Open(u"AddressBook"), Open(u"MY")};
  for (const auto& c : ciphers) {
    for (const Bytes& content : {data_, Bytes(), large}) {
      SCOPED_TRACE(std::string(c.oid) + " size " + std::to_string(content.size()));
      CryptEncryptMessagePara para;
      para.content_encryption_oid = c.oid;
      Bytes envelope;
      ASSERT_TRUE(CryptEncryptMessage(para, std::span(&alice_, 1), content, &envelope));
      TestPkcs7 p7 = DecodePkcs7(envelope);
      ASSERT_TRUE(p7 && PKCS7_type_is_enveloped(p7.get()));
      const X509_ALGOR* alg = p7->d.enveloped->enc_data->algorithm;
      EXPECT_EQ(AlgorithmOid(alg), c.oid);
      if (c.iv_len == 0) {
        EXPECT_EQ(alg->parameter, nullptr);
      } else {
        ASSERT_NE(alg->parameter, nullptr);
        EXPECT_EQ(alg->parameter->type, V_ASN1_OCTET_STRING);
        EXPECT_EQ(alg->parameter->value.octet_string->length, c.iv_len);
      }
      Bytes out = {'x'};
      CertContextPtr recipient;
      ASSERT_TRUE(CryptDecryptMessage(DecryptPara(stores), envelope, &out, &recipient))
          << std::hex << GetLastError();
      EXPECT_EQ(out, content);
      EXPECT_EQ(recipient->thumbprint(), alice_->thumbprint());
      EXPECT_TRUE(recipient->key_prov_info().has_value());
    }
  }
}

TEST_F(MessageTest, OpeningNeedsARecipientKeyInTheGivenStores) {
  auto seal = [&](std::vector<CertContextPtr> to, const char* oid = kOidRc4) {
    CryptEncryptMessagePara para;
    para.content_encryption_oid = oid;
    Bytes envelope;
    EXPECT_TRUE(CryptEncryptMessage(para, to, data_, &envelope));
    return envelope;
  };
  auto open = [&](std::span<const CertStore> stores, const Bytes& envelope, Bytes* out,
                  CertContextPtr* recipient = nullptr) {
    SetLastError(0);
    return CryptDecryptMessage(DecryptPara(stores), envelope, out, recipient);
  };
  Bytes out;
  CertContextPtr recipient;
  ASSERT_TRUE(open(std::span(&my_, 1), seal({carol_, bob_}), &out, &recipient));
  EXPECT_EQ(recipient->thumbprint(), bob_->thumbprint());
  CertStore both[] = {Open(u"AddressBook"), Open(u"MY")};
  for (const auto& [stores, envelope] :
       {std::pair{std::span<const CertStore>(both), seal({carol_})},
        std::pair{std::span<const CertStore>(&book_, 1), seal({alice_})},
        std::pair{std::span<const CertStore>(), seal({alice_})}}) {
    out = {'x'};
    EXPECT_FALSE(open(stores, envelope, &out));
    EXPECT_EQ(GetLastError(), kCryptENoDecryptCert);
    EXPECT_TRUE(out.empty());
  }

  // Envelopes from other platforms write RC4 with NULL parameters.
  Bytes rc4 = seal({alice_});
  auto set_parameters = [&](const Bytes& envelope, int type, void* value) {
    return Rewrite(envelope, [&](PKCS7* p7) {
      X509_ALGOR* alg = p7->d.enveloped->enc_data->algorithm;
      X509_ALGOR_set0(alg, OBJ_dup(alg->algorithm), type, value);
    });
  };
  ASSERT_TRUE(open(std::span(&my_, 1), set_parameters(rc4, V_ASN1_NULL, nullptr), &out));
  EXPECT_EQ(out, data_);
  EXPECT_FALSE(open(std::span(&my_, 1),
                    set_parameters(rc4, V_ASN1_OCTET_STRING, ASN1_OCTET_STRING_new()), &out));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
  ASN1_OCTET_STRING* short_iv = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(short_iv, data_.data(), 4);
  EXPECT_FALSE(open(std::span(&my_, 1),
                    set_parameters(seal({alice_}, kOidAes128Cbc), V_ASN1_OCTET_STRING, short_iv),
                    &out));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
  // A garbled wrapping (its PKCS#1 padding no longer holds) opens as a
  // wrong key would: RC4 cannot tell, so the envelope opens to other bytes,
  // the same ones each time.
  Bytes bad_key = Rewrite(rc4, [](PKCS7* p7) {
    sk_PKCS7_RECIP_INFO_value(p7->d.enveloped->recipientinfo, 0)->enc_key->data[5] ^= 1;
  });
  ASSERT_TRUE(open(std::span(&my_, 1), bad_key, &out));
  EXPECT_EQ(out.size(), data_.size());
  EXPECT_NE(out, data_);
  Bytes again;
  ASSERT_TRUE(open(std::span(&my_, 1), bad_key, &again));
  EXPECT_EQ(again, out);

  Bytes signed_blob;
  ASSERT_TRUE(CryptSignMessage(SignPara(alice_), false, data_, &signed_blob));
  EXPECT_FALSE(open(std::span(&my_, 1), signed_blob, &out));
  EXPECT_EQ(GetLastError(), kCryptEUnexpectedMsgType);
  EXPECT_FALSE(open(std::span(&my_, 1), data_, &out));
  EXPECT_EQ(GetLastError(), kCryptEOssError);

  CryptEncryptMessagePara rc2;
  rc2.content_encryption_oid = "1.2.840.113549.3.2";
  EXPECT_FALSE(CryptEncryptMessage(rc2, std::span(&alice_, 1), data_, &out));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
  EXPECT_FALSE(CryptEncryptMessage({}, {}, data_, &out));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CryptEncryptMessage({}, std::span(&sm2_, 1), data_, &out));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
}

TEST_F(MessageTest, NestedMessagesAreSignedThenEnveloped) {
  Bytes blob;
  ASSERT_TRUE(CryptSignAndEncryptMessage(SignPara(alice_, kOidSha256), {}, std::span(&bob_, 1),
                                         data_, &blob));
  TestPkcs7 p7 = DecodePkcs7(blob);
  ASSERT_TRUE(p7 && PKCS7_type_is_enveloped(p7.get()));
  EXPECT_EQ(OBJ_obj2nid(p7->d.enveloped->enc_data->content_type), NID_pkcs7_signed);

  Bytes content;
  CertContextPtr recipient, signer;
  auto para = DecryptPara(std::span(&my_, 1));
  ASSERT_TRUE(
      CryptDecryptAndVerifyMessageSignature(para, {}, 0, blob, &content, &recipient, &signer));
  EXPECT_EQ(content, data_);
  EXPECT_EQ(recipient->thumbprint(), bob_->thumbprint());
  EXPECT_EQ(signer->thumbprint(), alice_->thumbprint());
  // Opened in two steps it is the same SignedData.
  Bytes inner;
  ASSERT_TRUE(CryptDecryptMessage(para, blob, &inner, nullptr));
  ASSERT_TRUE(CryptVerifyMessageSignature({}, 0, inner, &content, nullptr));
  EXPECT_EQ(content, data_);

  // A plain envelope holds no SignedData.
  Bytes plain;
  ASSERT_TRUE(CryptEncryptMessage({}, std::span(&bob_, 1), data_, &plain));
  EXPECT_FALSE(
      CryptDecryptAndVerifyMessageSignature(para, {}, 0, plain, &content, &recipient, &signer));
  EXPECT_EQ(GetLastError(), kCryptEOssError);
  EXPECT_TRUE(content.empty());
  EXPECT_EQ(recipient, nullptr);
}

// The argument checks every call makes before any work: a missing output or
// an encoding other than PKCS#7 is refused with kErrorInvalidParameter, and
// the outputs an opening call was given are emptied all the same.
TEST_F(MessageTest, CallsRefuseAMissingOutputOrAForeignEncoding) {
  Bytes blob, envelope;
  ASSERT_TRUE(CryptSignMessage(SignPara(alice_), false, data_, &blob));
  ASSERT_TRUE(CryptEncryptMessage({}, std::span(&bob_, 1), data_, &envelope));
  auto refused = [](bool result) { return !result && GetLastError() == kErrorInvalidParameter; };
  SetLastError(0);
  EXPECT_TRUE(refused(CryptSignMessage(SignPara(alice_), false, data_, nullptr)));
  SetLastError(0);
  EXPECT_TRUE(refused(CryptEncryptMessage({}, std::span(&bob_, 1), data_, nullptr)));
  SetLastError(0);
  EXPECT_TRUE(refused(
      CryptSignAndEncryptMessage(SignPara(alice_), {}, std::span(&bob_, 1), data_, nullptr)));
  SetLastError(0);
  EXPECT_TRUE(refused(CryptHashMessage({}, data_, nullptr)));

  Bytes content = {'x'};
  CertContextPtr cert = alice_;
  CryptVerifyMessagePara x509_verify;
  x509_verify.msg_and_cert_encoding_type = kX509AsnEncoding;
  EXPECT_TRUE(refused(CryptVerifyMessageSignature(x509_verify, 0, blob, &content, &cert)));
  EXPECT_TRUE(content.empty());
  EXPECT_EQ(cert, nullptr);

  content = {'x'};
  cert = alice_;
  CryptDecryptMessagePara x509_decrypt = DecryptPara(std::span(&my_, 1));
  x509_decrypt.msg_and_cert_encoding_type = kX509AsnEncoding;
  EXPECT_TRUE(refused(CryptDecryptMessage(x509_decrypt, envelope, &content, &cert)));
  EXPECT_TRUE(content.empty());
  EXPECT_EQ(cert, nullptr);

  // The digest call checks the encoding before it touches its output.
  Bytes hash = {'x'};
  CryptHashMessagePara x509_hash;
  x509_hash.msg_encoding_type = kX509AsnEncoding;
  EXPECT_TRUE(refused(CryptHashMessage(x509_hash, data_, &hash)));
  EXPECT_EQ(hash, Bytes({'x'}));
}

TEST_F(MessageTest, HashMessageGivesTheBareDigest) {
  const Bytes abc = {'a', 'b', 'c'};
  const struct {
    const char* oid;
    std::string hex;
  } cases[] = {
      {kOidSha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {kOidMd5, "900150983cd24fb0d6963f7d28e17f72"},
      {kOidSha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {kOidSm3, "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
  };
  for (const auto& c : cases) {
    CryptHashMessagePara para;
    para.hash_algorithm_oid = c.oid;
    Bytes hash;
    ASSERT_TRUE(CryptHashMessage(para, abc, &hash)) << c.oid;
    EXPECT_EQ(Hex(hash), c.hex) << c.oid;
  }
  Bytes hash;
  ASSERT_TRUE(CryptHashMessage({}, abc, &hash));  // SHA-1 by default
  EXPECT_EQ(hash.size(), 20u);
  CryptHashMessagePara unknown;
  unknown.hash_algorithm_oid = "1.2.840.113549.2.2";  // MD2
  EXPECT_FALSE(CryptHashMessage(unknown, abc, &hash));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
  EXPECT_TRUE(hash.empty());
}

// In a fresh process, loading the legacy provider must leave the default
// provider's algorithms available.
TEST(MessageLegacyProviderTest, LoadingLegacyKeepsTheDefaultProvider) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        bool ok = LoadLegacyProvider() && OSSL_PROVIDER_available(nullptr, "default") == 1;
        EVP_MD* sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        EVP_CIPHER* rc4 = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
        ok = ok && sha256 != nullptr && rc4 != nullptr;
        EVP_MD_free(sha256);
        EVP_CIPHER_free(rc4);
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quillmark::platform
