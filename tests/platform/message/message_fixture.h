// Setup shared by the message tests: a home folder whose "MY" store holds
// RSA users Alice and Bob and an SM2 user, each with a key in the software
// provider, and whose "AddressBook" holds Carol without a key.
#ifndef QUILLMARK_TESTS_PLATFORM_MESSAGE_FIXTURE_H_
#define QUILLMARK_TESTS_PLATFORM_MESSAGE_FIXTURE_H_

#include <gtest/gtest.h>
#include <openssl/pkcs7.h>

#include <span>
#include <string>

#include "platform/keys/key_import.h"
#include "platform/keys/sm2.h"
#include "platform/message/message.h"
#include "platform/os/home.h"
#include "platform/store/cert_store.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::platform {

struct Pkcs7Free {
  void operator()(PKCS7* p) const { PKCS7_free(p); }
};
using TestPkcs7 = std::unique_ptr<PKCS7, Pkcs7Free>;

inline TestPkcs7 DecodePkcs7(const Bytes& der) {
  const unsigned char* p = der.data();
  return TestPkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
}

inline Bytes EncodePkcs7(PKCS7* p7) {
  unsigned char* out = nullptr;
  int len = i2d_PKCS7(p7, &out);
  Bytes der(out, out + std::max(len, 0));
  OPENSSL_free(out);
  return der;
}

class MessageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    alice_key_ = testing::MakeRsaKey(2048).release();
    bob_key_ = testing::MakeRsaKey(1024).release();
    sm2_key_ = GenerateSm2Key().release();
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(alice_key_);
    EVP_PKEY_free(bob_key_);
    EVP_PKEY_free(sm2_key_);
  }

  void SetUp() override {
    SetQuillmarkHome(dir_.File("home"));
    my_ = Open(u"MY");
    book_ = Open(u"AddressBook");
    alice_ = Add(my_, "Alice", alice_key_, 0x11, true);
    bob_ = Add(my_, "Bob", bob_key_, 0x22, true);
    sm2_ = Add(my_, "SM2 User", sm2_key_, 0x44, true, alice_key_);
    carol_ = Add(book_, "Carol", bob_key_, 0x33, false);
  }
  void TearDown() override { SetQuillmarkHome(""); }

  static CertStore Open(std::u16string_view name) {
    return CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser,
                         name);
  }

  // A certificate for |cn| issued by Alice (by itself when |issuer| is null),
  // added to |store| with its key or without.
  static Bytes NameOf(const std::string& cn) { return testing::NameBuilder().Add("CN", cn).Der(); }
  CertContextPtr Add(const CertStore& store, const std::string& cn, EVP_PKEY* key,
                     std::uint8_t serial, bool with_key, EVP_PKEY* issuer = nullptr) {
    testing::CertSpec spec;
    spec.subject = NameOf(cn);
    spec.issuer = issuer != nullptr ? NameOf("Alice") : Bytes();
    spec.subject_key = key;
    spec.issuer_key = issuer;
    spec.serial = {0x01, serial};
    Bytes der = testing::MakeCertificate(spec);
    CertContextPtr added;
    if (!with_key) {
      EXPECT_TRUE(
          CertAddEncodedCertificateToStore(store, kDefaultEncoding, der, kCertStoreAddNew, &added));
      return added;
    }
    CertificateWithKey pair;
    std::string pem = testing::PrivateKeyPem(key);
    EXPECT_EQ(ReadCertificateAndKey(der, AsBytes(pem), "", &pair), ImportError::kNone);
    EXPECT_EQ(ImportCertificateWithKey(store, pair, kAtKeyExchange, &added), ImportError::kNone);
    return added;
  }

  static CryptSignMessagePara SignPara(const CertContextPtr& signer,
                                       const std::string& oid = kOidSha1) {
    CryptSignMessagePara para;
    para.signing_cert = signer;
    para.hash_algorithm_oid = oid;
    para.msg_certs = {signer};
    return para;
  }

  static CryptDecryptMessagePara DecryptPara(std::span<const CertStore> stores) {
    CryptDecryptMessagePara para;
    para.cert_stores = stores;
    return para;
  }

  testing::ScratchDir dir_;
  CertStore my_, book_;
  CertContextPtr alice_, bob_, sm2_, carol_;
  Bytes data_ = Bytes({'p', 'a', 'y', ' ', '1', '0', '0', ' ', 'C', 'N', 'Y', 0, 0xFF, '\n'});

  static inline EVP_PKEY* alice_key_ = nullptr;
  static inline EVP_PKEY* bob_key_ = nullptr;
  static inline EVP_PKEY* sm2_key_ = nullptr;
};

}  // namespace quillmark::platform

#endif  // QUILLMARK_TESTS_PLATFORM_MESSAGE_FIXTURE_H_
