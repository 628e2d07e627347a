// The Windows key providers over the system's: hashes of known vectors,
// what has no Windows counterpart (SM2, SM3), containers and their errors,
// and a certificate imported with its key that signs a hash its public key
// verifies, the same signature the original key makes.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/hex.h"
#include "platform/keys/cert_issuer.h"
#include "platform/keys/cert_private_key.h"
#include "platform/keys/hash.h"
#include "platform/keys/key_import.h"
#include "platform/keys/key_match.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/sign_verify.h"
#include "platform/keys/win/key_provider_win.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_store.h"
#include "platform/store/win/cert_context_win.h"
#include "win/win_test_certs.h"

namespace quillmark::platform {
namespace {

using testing::TestKeyContainer;

ProvHandle VerifyContext() {
  ProvHandle prov;
  EXPECT_TRUE(CryptAcquireContextW(&prov, u"", u"", kProvRsaFull, kCryptVerifyContext))
      << GetLastError();
  return prov;
}

std::string HashHex(CryptProv& prov, std::uint32_t algid, std::string_view data) {
  HashHandle hash;
  if (!CryptCreateHash(prov, algid, nullptr, 0, &hash)) return "create failed";
  if (!CryptHashData(*hash, AsBytes(data), 0)) return "data failed";
  Bytes value;
  if (!CryptGetHashParam(*hash, kHpHashVal, &value)) return "value failed";
  std::string hex;
  AppendHexLower(value, &hex);
  return hex;
}

TEST(KeysWinTest, HashesOfKnownVectors) {
  ProvHandle prov = VerifyContext();
  ASSERT_TRUE(prov);
  EXPECT_EQ(HashHex(*prov, kCalgMd5, "abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(HashHex(*prov, kCalgSha1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(HashHex(*prov, kCalgSha256, "abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HashHex(*prov, kCalgSha384, "abc"),
            "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
            "8086072ba1e7cc2358baeca134c825a7");
  EXPECT_EQ(HashHex(*prov, kCalgSha512, "abc"),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
  EXPECT_EQ(HashHex(*prov, kCalgSha1, ""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");

  // Data in pieces hashes like data at once; the parameters read back.
  HashHandle hash;
  ASSERT_TRUE(CryptCreateHash(*prov, kCalgSha256, nullptr, 0, &hash));
  ASSERT_TRUE(CryptHashData(*hash, AsBytes("a"), 0));
  ASSERT_TRUE(CryptHashData(*hash, AsBytes("bc"), 0));
  Bytes value, size, algid;
  ASSERT_TRUE(CryptGetHashParam(*hash, kHpHashSize, &size));
  EXPECT_EQ(size, (Bytes{32, 0, 0, 0}));
  ASSERT_TRUE(CryptGetHashParam(*hash, kHpAlgId, &algid));
  EXPECT_EQ(algid, (Bytes{0x0C, 0x80, 0, 0}));
  ASSERT_TRUE(CryptGetHashParam(*hash, kHpHashVal, &value));
  EXPECT_EQ(HexUpper(value), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
  // Finished: no more data.
  EXPECT_FALSE(CryptHashData(*hash, AsBytes("d"), 0));
  EXPECT_EQ(GetLastError(), kNteBadHashState);

  EXPECT_EQ(CertOIDToAlgId("2.16.840.1.101.3.4.2.1"), kCalgSha256);
  EXPECT_EQ(CertOIDToAlgId("1.3.14.3.2.26"), kCalgSha1);
  EXPECT_EQ(CertOIDToAlgId("1.2.840.113549.1.1.1"), 0u);
  EXPECT_FALSE(CryptCreateHash(*prov, 0x8001, nullptr, 0, &hash));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
  EXPECT_FALSE(CryptCreateHash(*prov, kCalgSha1, nullptr, 1, &hash));
  EXPECT_EQ(GetLastError(), kNteBadFlags);
}

// What Windows offers no provider for fails as Windows would.
TEST(KeysWinTest, Sm2AndSm3FailWithBadAlgId) {
  ProvHandle prov = VerifyContext();
  ASSERT_TRUE(prov);
  HashHandle hash;
  EXPECT_EQ(CertOIDToAlgId("1.2.156.10197.1.401"), kCalgSm3);
  EXPECT_FALSE(CryptCreateHash(*prov, kCalgSm3, nullptr, 0, &hash));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
  EXPECT_FALSE(hash);
  EXPECT_FALSE(GenerateSm2KeyPair(*prov, kAtSignature));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
  // An SM2 SubjectPublicKeyInfo: id-ecPublicKey on the SM2 curve.
  Bytes spki = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01, 0x06,
                0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D, 0x03, 0x42, 0x00, 0x04};
  spki.resize(spki.size() + 64, 0x11);
  KeyHandle key;
  EXPECT_FALSE(CryptImportPublicKeyInfo(*prov, kDefaultEncoding, spki, &key));
  EXPECT_EQ(GetLastError(), kNteBadAlgId);
  EXPECT_FALSE(IssuingKey::GenerateSm2());
}

TEST(KeysWinTest, ContainersAndTheirErrors) {
  const std::u16string name = u"quillmark-keys-containers";
  ProvHandle prov;
  CryptAcquireContextW(&prov, name, u"", kProvRsaFull, kCryptDeleteKeyset);  // left over
  EXPECT_FALSE(CryptAcquireContextW(&prov, name, u"", kProvRsaFull, 0));
  EXPECT_EQ(GetLastError(), kNteBadKeyset);
  EXPECT_FALSE(CryptAcquireContextW(&prov, name, u"", 24, kCryptNewKeyset));
  EXPECT_EQ(GetLastError(), kNteProvTypeNoMatch);
  EXPECT_FALSE(CryptAcquireContextW(&prov, name, u"", kProvRsaFull, 0x1000));
  EXPECT_EQ(GetLastError(), kNteBadFlags);

  ASSERT_TRUE(
      CryptAcquireContextW(&prov, name, kMsEnhancedProviderName, kProvRsaFull, kCryptNewKeyset))
      << GetLastError();
  ProvHandle again;
  EXPECT_FALSE(CryptAcquireContextW(&again, name, u"", kProvRsaFull, kCryptNewKeyset));
  EXPECT_EQ(GetLastError(), kNteExists);
  EXPECT_FALSE(HasContainerKey(*prov, kAtSignature));
  ASSERT_TRUE(GenerateRsaKeyPair(*prov, kAtSignature, 2048)) << GetLastError();
  EXPECT_TRUE(HasContainerKey(*prov, kAtSignature));
  EXPECT_FALSE(HasContainerKey(*prov, kAtKeyExchange));
  Bytes spki;
  ASSERT_TRUE(CryptExportPublicKeyInfo(*prov, kAtSignature, kDefaultEncoding, &spki));
  EXPECT_FALSE(CryptExportPublicKeyInfo(*prov, kAtKeyExchange, kDefaultEncoding, &spki));
  EXPECT_TRUE(RemoveContainerKey(*prov, kAtKeyExchange));  // had none

  // The software provider's names all reach the same system container
  // (wine writes a container's keys when its last handle goes).
  prov.reset();
  ProvHandle by_own_name;
  ASSERT_TRUE(CryptAcquireContextW(&by_own_name, name, kSoftwareProviderName, kProvRsaFull, 0));
  EXPECT_TRUE(HasContainerKey(*by_own_name, kAtSignature));
  EXPECT_TRUE(IsSoftwareProviderName(u"microsoft base cryptographic provider v1.0"));
  std::wstring system_name;
  DWORD system_type = 0;
  SystemProviderFor(u"", &system_name, &system_type);
  EXPECT_EQ(system_name, MS_ENH_RSA_AES_PROV_W);
  EXPECT_EQ(system_type, DWORD{PROV_RSA_AES});
  // Another provider the system knows keeps its name and its registered type.
  SystemProviderFor(u"microsoft enhanced DSS and Diffie-Hellman cryptographic provider",
                    &system_name, &system_type);
  EXPECT_EQ(system_type, DWORD{PROV_DSS_DH});
  EXPECT_FALSE(IsSoftwareProviderName(u"Vendor CSP"));

  // A verification context signs nothing.
  ProvHandle verify = VerifyContext();
  HashHandle hash;
  ASSERT_TRUE(CryptCreateHash(*verify, kCalgSha1, nullptr, 0, &hash));
  Bytes signature;
  EXPECT_FALSE(CryptSignHashW(*hash, kAtSignature, u"", 0, &signature));
  EXPECT_EQ(GetLastError(), kNteNoKey);

  by_own_name.reset();
  ProvHandle gone;
  EXPECT_TRUE(CryptAcquireContextW(&gone, name, u"", kProvRsaFull, kCryptDeleteKeyset));
  EXPECT_FALSE(gone);
  EXPECT_FALSE(CryptAcquireContextW(&prov, name, u"", kProvRsaFull, 0));
  EXPECT_EQ(GetLastError(), kNteBadKeyset);
}

// The private key of a throw-away container as PKCS#8, the way a key file
// holds it.
Bytes ExportPkcs8(const TestKeyContainer& key) {
  HCRYPTKEY handle = 0;
  if (!::CryptGetUserKey(key.prov(), key.key_spec(), &handle)) return Bytes();
  DWORD size = 0;
  Bytes blob, pkcs8;
  if (::CryptExportKey(handle, 0, PRIVATEKEYBLOB, 0, nullptr, &size)) {
    blob.resize(size);
    if (::CryptExportKey(handle, 0, PRIVATEKEYBLOB, 0, blob.data(), &size)) {
      Pkcs8FromPrivateKeyBlob(blob, &pkcs8);
    }
  }
  ::CryptDestroyKey(handle);
  return pkcs8;
}

// The test container's own handle as a provider handle of ours (wine shows
// a container's keys to other handles only once its last handle is gone).
CryptProv Share(const TestKeyContainer& key) {
  CryptProv prov;
  prov.prov = std::make_shared<SystemProv>();
  if (::CryptContextAddRef(key.prov(), nullptr, 0)) prov.prov->handle = key.prov();
  return prov;
}

// A signature of SHA-1("quillmark signs this") by the key of |prov|.
Bytes SignSha1(CryptProv& prov, std::uint32_t key_spec) {
  HashHandle hash;
  Bytes signature;
  if (CryptCreateHash(prov, kCalgSha1, nullptr, 0, &hash) &&
      CryptHashData(*hash, AsBytes("quillmark signs this"), 0)) {
    CryptSignHashW(*hash, key_spec, u"", 0, &signature);
  }
  return signature;
}

// Checks |signature| over SHA-1("quillmark signs this") with |spki|.
bool VerifySha1(ByteSpan spki, ByteSpan signature) {
  ProvHandle verify = VerifyContext();
  KeyHandle key;
  HashHandle hash;
  return CryptImportPublicKeyInfo(*verify, kDefaultEncoding, spki, &key) &&
         CryptCreateHash(*verify, kCalgSha1, nullptr, 0, &hash) &&
         CryptHashData(*hash, AsBytes("quillmark signs this"), 0) &&
         CryptVerifySignatureW(*hash, signature, *key, u"", 0);
}

TEST(KeysWinTest, ImportedKeySignsAndItsCertificateVerifies) {
  TestKeyContainer source(L"quillmark-keys-source");
  ASSERT_TRUE(source.ok());
  // The source container's key must be exportable for the test to make a
  // key file of it.
  CertificateWithKey in;
  in.cert_der = source.SelfSigned(L"CN=Quillmark Key Import Test, O=Example Bank");
  in.pkcs8_der = ExportPkcs8(source);
  ASSERT_FALSE(in.cert_der.empty());
  ASSERT_FALSE(in.pkcs8_der.empty()) << ::GetLastError();

  CertStore my = CertOpenStore(kCertStoreProvSystemW, 0, kCertSystemStoreCurrentUser, u"MY");
  ASSERT_TRUE(my);
  CertContextPtr added;
  ASSERT_EQ(ImportCertificateWithKey(my, in, kAtSignature, &added), ImportError::kNone)
      << GetLastError();
  ASSERT_TRUE(added);
  std::optional<KeyProvInfo> info = added->key_prov_info();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->container, ImportContainerName(added->thumbprint()));
  EXPECT_EQ(info->key_spec, kAtSignature);

  ProvHandle prov;
  std::uint32_t spec = 0;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(*added, kCryptAcquireCompareKeyFlag, &prov, &spec))
      << GetLastError();
  EXPECT_EQ(spec, kAtSignature);
  Bytes spki;
  ASSERT_TRUE(CryptExportPublicKeyInfo(*prov, spec, kDefaultEncoding, &spki));
  EXPECT_TRUE(SamePublicKeyInfo(spki, added->public_key_info_der()));

  const Bytes signature = SignSha1(*prov, spec);
  ASSERT_EQ(signature.size(), 256u);
  EXPECT_TRUE(VerifySha1(added->public_key_info_der(), signature)) << GetLastError();
  // PKCS#1 v1.5 is deterministic: the source key signs the same bytes.
  CryptProv source_prov = Share(source);
  EXPECT_EQ(SignSha1(source_prov, kAtSignature), signature);
  Bytes tampered = signature;
  tampered[0] ^= 1;
  EXPECT_FALSE(VerifySha1(added->public_key_info_der(), tampered));
  EXPECT_EQ(GetLastError(), kNteBadSignature);

  // Another key does not belong to this certificate.
  TestKeyContainer other(L"quillmark-keys-other");
  ASSERT_TRUE(other.ok());
  CertificateWithKey mismatched;
  mismatched.cert_der = in.cert_der;
  mismatched.pkcs8_der = ExportPkcs8(other);
  EXPECT_EQ(ImportCertificateWithKey(my, mismatched, kAtSignature, nullptr),
            ImportError::kKeyMismatch);
  EXPECT_FALSE(CryptKeyMatchesCertificate(
      source_prov, kAtSignature,
      *CertCreateCertificateContext(kDefaultEncoding, other.SelfSigned(L"CN=Other"))));
  EXPECT_EQ(GetLastError(), kNteBadPublicKey);

  // Gone from the store, its container is no longer in use and goes too.
  bool in_use = false;
  ASSERT_TRUE(SoftwareContainerInUse(info->container, kAtSignature, &in_use));
  EXPECT_TRUE(in_use);
  ASSERT_TRUE(CertDeleteCertificateFromStore(added));
  ASSERT_TRUE(SoftwareContainerInUse(info->container, 0, &in_use));
  EXPECT_FALSE(in_use);
  prov.reset();
  bool deleted = false;
  ASSERT_TRUE(DeleteContainerIfUnused(info->container, &deleted));
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(*added, 0, &prov, &spec));
  EXPECT_EQ(GetLastError(), kNteBadKeyset);
  CertContextPtr bare = CertCreateCertificateContext(kDefaultEncoding, in.cert_der);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(*bare, 0, &prov, &spec));
  EXPECT_EQ(GetLastError(), kCryptENoKeyProperty);
}

TEST(KeysWinTest, KeyAndCertificateFilesAreRead) {
  TestKeyContainer source(L"quillmark-keys-files", AT_KEYEXCHANGE);
  ASSERT_TRUE(source.ok());
  const Bytes cert_der = source.SelfSigned(L"CN=Quillmark Key File Test");
  const Bytes pkcs8 = ExportPkcs8(source);
  ASSERT_FALSE(cert_der.empty());
  ASSERT_FALSE(pkcs8.empty());
  auto pem = [](const char* label, ByteSpan der) {
    DWORD size = 0;
    ::CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), CRYPT_STRING_BASE64, nullptr,
                           &size);
    std::string body(size, '\0');
    ::CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), CRYPT_STRING_BASE64,
                           body.data(), &size);
    body.resize(size);
    return std::string("-----BEGIN ") + label + "-----\n" + body + "-----END " + label + "-----\n";
  };
  // A chain file: the other certificate first, then the key's.
  TestKeyContainer other(L"quillmark-keys-files-other");
  ASSERT_TRUE(other.ok());
  const std::string chain =
      pem("CERTIFICATE", other.SelfSigned(L"CN=Unrelated")) + pem("CERTIFICATE", cert_der);

  CertificateWithKey out;
  ASSERT_EQ(ReadCertificateAndKey(AsBytes(chain), AsBytes(pem("PRIVATE KEY", pkcs8)), "", &out),
            ImportError::kNone);
  EXPECT_EQ(out.cert_der, cert_der);
  EXPECT_EQ(out.pkcs8_der, pkcs8);
  CertificateWithKey from_der;
  ASSERT_EQ(ReadCertificateAndKey(cert_der, pkcs8, "", &from_der), ImportError::kNone);
  EXPECT_EQ(from_der.pkcs8_der, pkcs8);

  CertificateWithKey failed;
  EXPECT_EQ(ReadCertificateAndKey(AsBytes(pem("CERTIFICATE", other.SelfSigned(L"CN=X"))), pkcs8, "",
                                  &failed),
            ImportError::kKeyMismatch);
  EXPECT_EQ(ReadCertificateAndKey(cert_der, AsBytes("no key"), "", &failed),
            ImportError::kNoPrivateKey);
  EXPECT_EQ(ReadCertificateAndKey(AsBytes("no certificate"), pkcs8, "", &failed),
            ImportError::kNotCertificate);
  EXPECT_EQ(ReadPkcs12(cert_der, "", &failed), ImportError::kNotPkcs12);
}

// A PKCS#12 file made for this test with `openssl pkcs12 -export` (RSA 1024,
// PBE-SHA1-3DES, password "s3cret"), which wine's importer reads.
constexpr char kPkcs12Base64[] =
    "MIIGGQIBAzCCBd8GCSqGSIb3DQEHAaCCBdAEggXMMIIFyDCCAscGCSqGSIb3DQEHBqCCArgw"
    "ggK0AgEAMIICrQYJKoZIhvcNAQcBMBwGCiqGSIb3DQEMAQMwDgQI9Gwyy0KuMugCAggAgIIC"
    "gFvRcHij+cqtTqU2pX6OdwSp/Z5xUtdHANf2uT7KqPi12YPF0HpsnzoZOaD2vmQJjZDSNhPc"
    "bYqAE/K7aQIhZUo/62KwRUgTRVqZ/ngthJ8faTvfhc6flVLuX0UgYEheeEBvD39geCXeoER1"
    "GrnTFrFd50z6Xz9OEYVTos4fWs1vjcjvz1f80/nLXqJE9+Pfma7b4Y5zcsJ9kM3bFBTHpkHG"
    "IF4U/ArapNtKLay47zbYAF2pIbES6QCcq3LjI3pR+unsKh1NoacVVhHcrQxZVFECD6phJ/Rr"
    "QImfkhnO2rfM15YctN2eGhMSNB50AGOdoFn3042c4baH9OuvGod+yNm2/sy3sxehVe8pPfh1"
    "IbjMZD3Nym4PXH0mUEhtRAxn3nBBLQe7Oct1iJqsyYNz8fb2MmGuXsEeuS1VBXY3EByf+yB7"
    "tOhv9VnC3hAaatsngy8Iogr6/TUP1GSCxvBLYEdTsHgyX+7k8y+7HINJEKybFfDPy2LpefRz"
    "9yn5rTgSsnSI/2eTboaVn/AY6KIGBdknhOKuOCJG37uz50RpPWjkSmy64qZbQ2+OtnYXRGMW"
    "YqOwD0Xg/+YlYy6+daxxiMfUME26BI2Tj46sBKIhWwQkV5tDDjzxnT3r+Q1Z3EddstOMXpRd"
    "m9vXOZFKg+hL5+DDnYXLBOr9y0+XlPXbqS/JEPPj78gyZmAF2FWDduP0oKWhc76vzyv/HJNq"
    "RPwpi1ZuTjusWkd3k8dhMG0QK4cHcdGJF4fyzVMd+0qHOsG0DPP0YgVSkL4OrZVNumrtmau9"
    "gsuVz/sCCXUOOrFchSl6C9nkgNLgW93Loe1ScuNBvXvvKZUAALrQgqIYx430St4wggL5Bgkq"
    "hkiG9w0BBwGgggLqBIIC5jCCAuIwggLeBgsqhkiG9w0BDAoBAqCCAqYwggKiMBwGCiqGSIb3"
    "DQEMAQMwDgQIIYzlQfFMtTMCAggABIICgIfs0Mn643mncz2eyJjFhrpaEraiVe79xZw3ymED"
    "FO0Xr299Sqba++aVFNqBo3/TvTDrT8nU+g/v4T0sBXMApElb5qO1Ox3fXzAEhm1iGlX2N1kF"
    "iiJvR/K7IV3SscQBqViuXXgEUXy6fUcyn7UKRhejSbKCAwtvGUgboq4X7yfbZ+2jEVzTDqCd"
    "IBsBv4HRvdtx4qhtRafJ9ohxSITuK8IfyH8TLHtl5Kk04dQpwKZ0mW5Buv8+X/PZ0Ki0oHhF"
    "PghefMiZW4h2ybbuqSKK55aNDaM1tD7dZaJqOfDxJuSHagP+Ss8VStiTYriGzaoiDbyIecPT"
    "YL5ASfQgLqv/mtmaFzG/e9EMbOX4USjuxjtex/bZEJ7xHlIrfY0qcJ5Yxjs/OG/2+D4kJIVr"
    "DXEImSzwyJk+xCte0zFcDeHOT6bkF7ak3IMAvlKAE9CCWefJCGUlc8H3O4MpZika6HwY6i20"
    "8KMCToUK35t5I+VntB6qKwtcG7rW5212w3M5kgN+OTwLE1F54G8tMOHiBZS+3kxQjhsZbUfD"
    "bixkGqpn7oeaAMrZkI63eFp1RgHhqnm42VLlekB947SI8U43hKZIP3jkOQpYK7cT5RWdoSoJ"
    "FuPk8aly3SWJ98va+ALZPYxWmyiyB4f0XtHQFyZkiCsM9WVi+5o4hdEe9JfvZS9y8Sob/Fd2"
    "InblnpAaSVF6YpbzjGiU9yPeWy44A4N9Lo94kgLV0WYFjP35njXVZjlOktN3hMUUDdnK2yb2"
    "M5Kn+Dqg7BD5h9zGu5yL4/RnCDodllhjvrDzS5tPJTx+i5QtGs6ro27OpMof3wFOrCKO8bzy"
    "uGTnJN8bLl2qUQi1UMQY2x4xJTAjBgkqhkiG9w0BCRUxFgQUlzwK8+pmIebLzDF1pnqCdT2t"
    "lr0wMTAhMAkGBSsOAwIaBQAEFNLpONFjbB5finY+5LenvJ7anIp9BAhseZYN7/7EDQICCAA=";

// A PKCS#12 file reads to its certificate and the key that belongs to it,
// and only with its password; the key goes into a container intact.
TEST(KeysWinTest, Pkcs12ReadsWithItsPassword) {
  DWORD size = 0;
  ASSERT_TRUE(::CryptStringToBinaryA(kPkcs12Base64, 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                                     nullptr));
  Bytes file(size);
  ASSERT_TRUE(::CryptStringToBinaryA(kPkcs12Base64, 0, CRYPT_STRING_BASE64, file.data(), &size,
                                     nullptr, nullptr));

  CertificateWithKey out;
  EXPECT_EQ(ReadPkcs12(file, "wrong", &out), ImportError::kWrongPassword) << GetLastError();
  EXPECT_EQ(ReadPkcs12(AsBytes("not a PKCS#12 file"), "s3cret", &out), ImportError::kNotPkcs12);
  const ImportError read = ReadPkcs12(file, "s3cret", &out);
  if (read == ImportError::kNoPrivateKey && testing::RunningUnderWine()) {
    GTEST_SKIP() << "wine's PFXImportCertStore does not give the imported key to "
                    "CryptAcquireCertificatePrivateKey";
  }
  ASSERT_EQ(read, ImportError::kNone);
  CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, out.cert_der);
  ASSERT_TRUE(cert);
  EXPECT_EQ(CertGetNameStringW(*cert, kCertNameSimpleDisplayType, 0), u"Quillmark PKCS12 Vector");
  CertificateWithKey again;
  EXPECT_EQ(ReadCertificateAndKey(out.cert_der, out.pkcs8_der, "", &again), ImportError::kNone);

  const std::u16string name = u"quillmark-keys-pkcs12";
  ProvHandle prov;
  CryptAcquireContextW(&prov, name, u"", kProvRsaFull, kCryptDeleteKeyset);
  ASSERT_TRUE(CryptAcquireContextW(&prov, name, u"", kProvRsaFull, kCryptNewKeyset));
  ASSERT_TRUE(ImportPrivateKeyInfo(*prov, kAtSignature, out.pkcs8_der)) << GetLastError();
  EXPECT_TRUE(CryptKeyMatchesCertificate(*prov, kAtSignature, *cert));
  const Bytes signature = SignSha1(*prov, kAtSignature);
  EXPECT_TRUE(VerifySha1(cert->public_key_info_der(), signature));
  prov.reset();
  CryptAcquireContextW(&prov, name, u"", kProvRsaFull, kCryptDeleteKeyset);
}

// A small CA made with the system's provider: the certificates and the CRL
// check out with the system's own signature check and carry the fields the
// demonstration PKI asks for.
TEST(KeysWinTest, IssuedCertificatesAndCrlsVerify) {
  IssuingKey ca_key = IssuingKey::GenerateRsa(2048);
  IssuingKey user_key = IssuingKey::GenerateRsa(2048);
  ASSERT_TRUE(ca_key);
  ASSERT_TRUE(user_key);
  IssueRequest ca_request;
  ca_request.subject = {{"CN", "Demo Root"}, {"O", "Demo Bank"}, {"C", "CN"}};
  ca_request.subject_key = &ca_key;
  ca_request.ca = true;
  ca_request.path_length = 0;
  ca_request.key_usage = "keyCertSign,cRLSign";
  Bytes ca_der;
  ASSERT_TRUE(IssueCertificate(ca_request, &ca_der)) << ::GetLastError();

  IssueRequest user_request;
  user_request.subject = {{"CN", "\xE5\xBC\xA0\xE4\xB8\x89"}, {"OU", "Personal"}};  // 张三
  user_request.subject_key = &user_key;
  user_request.issuer_cert = ca_der;
  user_request.issuer_key = &ca_key;
  user_request.days_valid = 30;
  user_request.key_usage = "digitalSignature,keyEncipherment";
  user_request.extended_key_usage = "clientAuth,emailProtection";
  user_request.email = "zhang@example.com";
  user_request.crl_url = "http://crl.example.com/root.crl";
  Bytes user_der;
  ASSERT_TRUE(IssueCertificate(user_request, &user_der)) << ::GetLastError();

  CertContextPtr ca = CertCreateCertificateContext(kDefaultEncoding, ca_der);
  CertContextPtr user = CertCreateCertificateContext(kDefaultEncoding, user_der);
  ASSERT_TRUE(ca);
  ASSERT_TRUE(user);
  EXPECT_EQ(user->version(), 3);
  EXPECT_EQ(CertGetNameStringW(*user, kCertNameSimpleDisplayType, 0), u"\u5F20\u4E09");
  EXPECT_EQ(CertGetNameStringW(*user, kCertNameSimpleDisplayType, kCertNameIssuerFlag),
            u"Demo Root");
  EXPECT_TRUE(std::equal(user->issuer_der().begin(), user->issuer_der().end(),
                         ca->subject_der().begin(), ca->subject_der().end()));
  EXPECT_EQ(user->not_after().unix_seconds - user->not_before().unix_seconds, 31 * 86400);
  for (const char* oid : {"2.5.29.19", "2.5.29.14", "2.5.29.35", "2.5.29.15", "2.5.29.37",
                          "2.5.29.17", "2.5.29.31"}) {
    EXPECT_TRUE(CertFindExtension(oid, user->extensions())) << oid;
  }
  const CertExtension* basic = CertFindExtension("2.5.29.19", ca->extensions());
  ASSERT_TRUE(basic);
  EXPECT_TRUE(basic->critical);
  // The user's authority key identifier is the CA's subject key identifier.
  const CertExtension* ski = CertFindExtension("2.5.29.14", ca->extensions());
  const CertExtension* aki = CertFindExtension("2.5.29.35", user->extensions());
  ASSERT_TRUE(ski && aki);
  ASSERT_GE(ski->value.size(), 22u);
  EXPECT_NE(
      std::search(aki->value.begin(), aki->value.end(), ski->value.begin() + 2, ski->value.end()),
      aki->value.end());

  // The system checks both signatures with the CA's key, and refuses the
  // user's certificate under the user's own key.
  auto verified_by = [](ByteSpan der, const CertContextPtr& signer) {
    return ::CryptVerifyCertificateSignature(
               0, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
               &CertContextHandle(*signer)->pCertInfo->SubjectPublicKeyInfo) != FALSE;
  };
  EXPECT_TRUE(verified_by(ca_der, ca));
  EXPECT_TRUE(verified_by(user_der, ca));
  EXPECT_FALSE(verified_by(user_der, user));

  CrlRequest crl_request;
  crl_request.issuer_cert = ca_der;
  crl_request.issuer_key = &ca_key;
  crl_request.revoked = {ByteSpan(user_der)};
  crl_request.days_valid = 10;
  Bytes crl_der;
  ASSERT_TRUE(IssueCrl(crl_request, &crl_der)) << ::GetLastError();
  EXPECT_TRUE(verified_by(crl_der, ca));
  PCCRL_CONTEXT crl =
      ::CertCreateCRLContext(X509_ASN_ENCODING, crl_der.data(), static_cast<DWORD>(crl_der.size()));
  ASSERT_NE(crl, nullptr);
  ASSERT_EQ(crl->pCrlInfo->cCRLEntry, 1u);
  const CRYPT_INTEGER_BLOB& revoked = crl->pCrlInfo->rgCRLEntry[0].SerialNumber;
  EXPECT_TRUE(CertCompareIntegerBlob(ByteSpan(revoked.pbData, revoked.cbData), user->serial()));
  ::CertFreeCRLContext(crl);

  // The key leaves as PKCS#8 that a container takes and shows the same key.
  Bytes pkcs8;
  ASSERT_TRUE(user_key.PrivateKeyInfo(&pkcs8));
  const std::u16string name = u"quillmark-keys-issued";
  ProvHandle prov;
  CryptAcquireContextW(&prov, name, u"", kProvRsaFull, kCryptDeleteKeyset);
  ASSERT_TRUE(CryptAcquireContextW(&prov, name, u"", kProvRsaFull, kCryptNewKeyset));
  ASSERT_TRUE(ImportPrivateKeyInfo(*prov, kAtKeyExchange, pkcs8)) << GetLastError();
  Bytes spki;
  ASSERT_TRUE(CryptExportPublicKeyInfo(*prov, kAtKeyExchange, kDefaultEncoding, &spki));
  EXPECT_TRUE(SamePublicKeyInfo(spki, user->public_key_info_der()));
  EXPECT_FALSE(SamePublicKeyInfo(spki, ca->public_key_info_der()));
  prov.reset();
  CryptAcquireContextW(&prov, name, u"", kProvRsaFull, kCryptDeleteKeyset);

  // An SM2 issuer does not exist here; an unknown attribute is refused.
  IssueRequest bad = ca_request;
  bad.subject = {{"NoSuchAttribute", "x"}};
  EXPECT_FALSE(IssueCertificate(bad, &ca_der));
}

}  // namespace
}  // namespace quillmark::platform
