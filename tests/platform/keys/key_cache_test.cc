// Software keys are parsed once per process and served from memory while
// their file stays the same: a key replaced or removed on disk must never be
// used from memory.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "platform/keys/key_provider.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "support/test_dirs.h"

namespace quillmark::platform {
namespace {

struct Sm2Key {
  Bytes pkcs8, spki;
};

Sm2Key MakeSm2Key() {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
  EXPECT_NE(key, nullptr);
  Sm2Key out;
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
  unsigned char* der = nullptr;
  int len = i2d_PKCS8_PRIV_KEY_INFO(p8, &der);
  out.pkcs8.assign(der, der + len);
  OPENSSL_free(der);
  der = nullptr;
  len = i2d_PUBKEY(key, &der);
  out.spki.assign(der, der + len);
  OPENSSL_free(der);
  PKCS8_PRIV_KEY_INFO_free(p8);
  EVP_PKEY_free(key);
  return out;
}

TEST(KeyCacheTest, ReplacedOrRemovedKeysAreNeverServedFromMemory) {
  testing::ScratchDir home;
  SetQuillmarkHome(home.path());
  const Sm2Key a = MakeSm2Key(), b = MakeSm2Key();
  auto exported = [](std::uint32_t flags = 0) {
    ProvHandle prov;
    Bytes spki;
    if (CryptAcquireContextW(&prov, u"cached", kSoftwareProviderName, kProvRsaFull, flags)) {
      CryptExportPublicKeyInfo(*prov, kAtSignature, kDefaultEncoding, &spki);
    }
    return spki;
  };
  {
    ProvHandle prov;
    ASSERT_TRUE(CryptAcquireContextW(&prov, u"cached", kSoftwareProviderName, kProvRsaFull,
                                     kCryptNewKeyset));
    ASSERT_TRUE(ImportPrivateKeyInfo(*prov, kAtSignature, a.pkcs8));
  }
  EXPECT_EQ(exported(), a.spki);
  EXPECT_EQ(exported(), a.spki);
  {
    ProvHandle prov;
    ASSERT_TRUE(CryptAcquireContextW(&prov, u"cached", kSoftwareProviderName, kProvRsaFull, 0));
    ASSERT_TRUE(ImportPrivateKeyInfo(*prov, kAtSignature, b.pkcs8));
  }
  EXPECT_EQ(exported(), b.spki);
  ProvHandle gone;
  ASSERT_TRUE(CryptAcquireContextW(&gone, u"cached", kSoftwareProviderName, kProvRsaFull,
                                   kCryptDeleteKeyset));
  EXPECT_TRUE(exported().empty());
  SetQuillmarkHome("");
}

}  // namespace
}  // namespace quillmark::platform
