#include "platform/keys/token_provider.h"

#include <openssl/x509.h>

#include <mutex>
#include <new>
#include <utility>

#include "common/no_destructor.h"
#include "common/unicode.h"
#include "platform/keys/key_provider_internal.h"
#include "platform/keys/pkcs11_module.h"
#include "platform/keys/sm2.h"
#include "platform/keys/token_logins.h"
#include "platform/keys/token_objects.h"
#include "platform/os/secret_input.h"

namespace quillmark::platform {

namespace {

using p11::kLoginLost;
using p11::Logins;
using p11::TokenRef;

// DigestInfo DER of |md| and |digest|, what CKM_RSA_PKCS signs.
bool DigestInfo(const EVP_MD* md, ByteSpan digest, Bytes* out) {
  ossl::Ptr<X509_SIG, X509_SIG_free> sig(X509_SIG_new());
  if (sig == nullptr || md == nullptr) return false;
  X509_ALGOR* alg = nullptr;
  ASN1_OCTET_STRING* value = nullptr;
  X509_SIG_getm(sig.get(), &alg, &value);
  if (X509_ALGOR_set0(alg, OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr) != 1 ||
      ASN1_OCTET_STRING_set(value, digest.data(), static_cast<int>(digest.size())) != 1) {
    return false;
  }
  return ossl::EncodeDer(i2d_X509_SIG, sig.get(), out);
}

// r || s, most significant byte first, as the DER SEQUENCE { r, s }.
bool PlainSignatureToDer(ByteSpan rs, Bytes* der) {
  if (rs.empty() || rs.size() % 2 != 0) return false;
  const int half = static_cast<int>(rs.size() / 2);
  ossl::BnPtr r(BN_bin2bn(rs.data(), half, nullptr));
  ossl::BnPtr s(BN_bin2bn(rs.data() + half, half, nullptr));
  ossl::EcdsaSigPtr sig(ECDSA_SIG_new());
  if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return false;
  r.release();  // now owned by |sig|
  s.release();
  return ossl::EncodeDer(i2d_ECDSA_SIG, sig.get(), der);
}

std::uint32_t OperationError(CK_RV rv) {
  if (rv == CKR_USER_NOT_LOGGED_IN) return kLoginLost;
  return p11::PlatformError(rv);
}

// Calls C_Sign twice, for the length and the value.
std::uint32_t SignOnce(const p11::Session& s, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key,
                       ByteSpan data, Bytes* out) {
  CK_MECHANISM mechanism = {type, nullptr, 0};
  if (CK_RV rv = s.f()->C_SignInit(s.handle(), &mechanism, key)) {
    return rv == CKR_MECHANISM_INVALID || rv == CKR_KEY_TYPE_INCONSISTENT ? kNteBadAlgId
                                                                          : OperationError(rv);
  }
  CK_BYTE* in = const_cast<CK_BYTE*>(data.data());
  CK_ULONG len = 0;
  if (CK_RV rv = s.f()->C_Sign(s.handle(), in, data.size(), nullptr, &len)) {
    return OperationError(rv);
  }
  out->assign(len, 0);
  if (CK_RV rv = s.f()->C_Sign(s.handle(), in, data.size(), out->data(), &len)) {
    return OperationError(rv);
  }
  out->resize(len);
  return 0;
}

class TokenContainer : public KeyContainer {
 public:
  TokenContainer(std::string serial, Bytes id) : serial_(std::move(serial)), id_(std::move(id)) {}

  std::uint32_t GetPublicKey(std::uint32_t spec, ossl::PkeyPtr* out) override {
    if (spec != kAtKeyExchange && spec != kAtSignature) return kNteBadKey;
    std::lock_guard<std::mutex> lock(mu_);
    if (public_key_ == nullptr) {
      std::uint32_t err = Logins::Instance().Run(
          serial_, /*login=*/false, [&](const p11::Session& s, const TokenRef&) -> std::uint32_t {
            ossl::PkeyPtr key = p11::PublicKeyOf(s, id_);
            if (key == nullptr) return kNteNoKey;
            public_key_ = SharePkey(std::move(key));
            return 0;
          });
      if (err != 0) return err;
    }
    if (EVP_PKEY_up_ref(public_key_.get()) != 1) return kNteBadKey;
    out->reset(public_key_.get());
    return 0;
  }

  std::uint32_t SignDigest(std::uint32_t spec, const EVP_MD* md, ByteSpan digest,
                           Bytes* signature) override {
    ossl::PkeyPtr pub;
    if (std::uint32_t err = GetPublicKey(spec, &pub)) return err;
    const bool sm2 = IsSm2Key(pub.get());
    const bool rsa = EVP_PKEY_is_a(pub.get(), "RSA");
    Bytes data;
    if (rsa) {
      if (!DigestInfo(md, digest, &data)) return kNteBadAlgId;
    } else {
      data.assign(digest.begin(), digest.end());
    }
    return Logins::Instance().Run(
        serial_, /*login=*/true,
        [&](const p11::Session& s, const TokenRef& token) -> std::uint32_t {
          CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
          if (std::uint32_t err = FindPrivateKey(s, pub.get(), &key)) return err;
          CK_MECHANISM_TYPE mechanism = rsa ? CKM_RSA_PKCS : CKM_ECDSA;
          if (sm2) {
            if (!token.sm2_mechanism.has_value()) return kNteBadAlgId;
            mechanism = static_cast<CK_MECHANISM_TYPE>(*token.sm2_mechanism);
          }
          Bytes raw;
          if (std::uint32_t err = SignOnce(s, mechanism, key, data, &raw)) return err;
          if (rsa) {
            *signature = std::move(raw);
          } else if (!PlainSignatureToDer(raw, signature)) {
            return kNteFail;
          }
          return 0;
        });
  }

  std::uint32_t DecryptKeyTransport(std::uint32_t spec, ByteSpan wrapped, Bytes* out) override {
    ossl::PkeyPtr pub;
    if (std::uint32_t err = GetPublicKey(spec, &pub)) return err;
    if (!EVP_PKEY_is_a(pub.get(), "RSA")) return kNteBadAlgId;
    return Logins::Instance().Run(
        serial_, /*login=*/true, [&](const p11::Session& s, const TokenRef&) -> std::uint32_t {
          CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
          if (std::uint32_t err = FindPrivateKey(s, pub.get(), &key)) return err;
          CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
          if (CK_RV rv = s.f()->C_DecryptInit(s.handle(), &mechanism, key)) {
            return OperationError(rv);
          }
          CK_BYTE* in = const_cast<CK_BYTE*>(wrapped.data());
          CK_ULONG len = 0;
          CK_RV rv = s.f()->C_Decrypt(s.handle(), in, wrapped.size(), nullptr, &len);
          Bytes plain;
          if (rv == CKR_OK) {
            plain.assign(len, 0);
            rv = s.f()->C_Decrypt(s.handle(), in, wrapped.size(), plain.data(), &len);
          }
          if (rv == CKR_ENCRYPTED_DATA_INVALID || rv == CKR_ENCRYPTED_DATA_LEN_RANGE) {
            WipeSecret(&plain);
            return kNteBadData;
          }
          if (rv != CKR_OK) {
            WipeSecret(&plain);
            return OperationError(rv);
          }
          plain.resize(len);
          *out = std::move(plain);
          return 0;
        });
  }

  std::uint32_t PutPrivateKey(std::uint32_t, EVP_PKEY*) override { return kNteBadAlgId; }

 private:
  // The private key of this container; kNteBadPublicKey when the token shows
  // its public half and that is not |pub|.
  std::uint32_t FindPrivateKey(const p11::Session& s, const EVP_PKEY* pub,
                               CK_OBJECT_HANDLE* key) const {
    std::vector<CK_OBJECT_HANDLE> keys = p11::FindObjects(s, CKO_PRIVATE_KEY, &id_, 1);
    if (keys.empty()) {
      CK_SESSION_INFO info;
      CK_RV rv = s.f()->C_GetSessionInfo(s.handle(), &info);
      return rv != CKR_OK ? OperationError(rv) : kNteNoKey;
    }
    ossl::PkeyPtr half = p11::PublicHalfOfPrivateKey(s, keys[0]);
    if (half != nullptr && EVP_PKEY_eq(half.get(), pub) != 1) return kNteBadPublicKey;
    *key = keys[0];
    return 0;
  }

  std::string serial_;
  Bytes id_;
  std::mutex mu_;
  std::shared_ptr<EVP_PKEY> public_key_;
};

class TokenProvider : public KeyProviderBackend {
 public:
  std::uint32_t OpenContainer(const std::string& name,
                              std::unique_ptr<KeyContainer>* out) override {
    std::string serial;
    Bytes id;
    if (!ParseTokenContainerName(name, &serial, &id)) return kNteBadKeysetParam;
    *out = std::make_unique<TokenContainer>(std::move(serial), std::move(id));
    return 0;
  }

  // Keys are made on a token by its own tools, not here.
  std::uint32_t CreateContainer(const std::string&, std::unique_ptr<KeyContainer>*) override {
    return kNteBadFlags;
  }
  std::uint32_t DeleteContainer(const std::string&) override { return kNteBadFlags; }
};

}  // namespace

std::shared_ptr<KeyProviderBackend> TokenKeyProvider() {
  static const NoDestructor<std::shared_ptr<KeyProviderBackend>> provider(
      std::make_shared<TokenProvider>());
  return *provider;
}

KeyLoginScope::KeyLoginScope() { Logins::Instance().AddScope(); }
KeyLoginScope::~KeyLoginScope() { Logins::Instance().RemoveScope(); }

bool KeyLoginsKept() { return Logins::Instance().Kept(); }

void EndKeyLogins() { Logins::Instance().EndAll(); }

}  // namespace quillmark::platform
