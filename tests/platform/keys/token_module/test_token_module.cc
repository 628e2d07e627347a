// A small PKCS#11 module for tests of the token provider: one slot whose
// token lives in the folder named by QM_TEST_TOKEN_DIR, with what SoftHSM2
// cannot show: SM2 keys signed through a vendor mechanism, a PIN that locks
// after a few wrong tries (kept across processes), and a token that can be
// pulled and put back between two calls.
//
//   token.conf      "label L", "serial S", "pin P", "max-tries N",
//                   "sm2-mechanism N" lines
//   present         the token is in the slot while this file exists
//   tries           wrong PINs since the last right one (written here)
//   ID.key, ID.crt  a key (PKCS#8 DER) and its certificate (DER), ID in hex
//
// Private keys show only after C_Login. RSA keys sign with CKM_RSA_PKCS and
// decrypt with it, EC keys sign with CKM_ECDSA (r || s), SM2 keys sign e
// with the configured mechanism (r || s). Calls the provider does not make
// are left out of the function list.
#include <dirent.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list);

namespace {

using Bytes = std::vector<unsigned char>;

constexpr CK_SLOT_ID kSlot = 1;

struct Config {
  std::string label = "Test Token";
  std::string serial = "TEST0001";
  std::string pin = "1234";
  int max_tries = 3;
  CK_MECHANISM_TYPE sm2_mechanism = 0x80000301;
};

struct Object {
  CK_OBJECT_CLASS object_class;
  Bytes id;
  EVP_PKEY* key = nullptr;  // private and public objects; owned by the key object
  Bytes cert;
};

struct Session {
  std::vector<CK_OBJECT_HANDLE> found;
  std::size_t next = 0;
  CK_OBJECT_HANDLE sign_key = 0;
  CK_MECHANISM_TYPE sign_mechanism = 0;
  CK_OBJECT_HANDLE decrypt_key = 0;
};

std::mutex mu;
bool initialized = false;
bool logged_in = false;
Config config;
// Held through pointers that are never freed: the module is never
// finalized, and its keys stay reachable until the process ends.
std::map<CK_OBJECT_HANDLE, Object>& objects = *new std::map<CK_OBJECT_HANDLE, Object>;
std::map<CK_SESSION_HANDLE, Session>& sessions = *new std::map<CK_SESSION_HANDLE, Session>;
CK_SESSION_HANDLE next_session = 1;

std::string Dir() {
  const char* dir = std::getenv("QM_TEST_TOKEN_DIR");
  return dir != nullptr ? dir : "";
}

bool ReadFile(const std::string& path, Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool Present() {
  Bytes ignored;
  return ReadFile(Dir() + "/present", &ignored);
}

int Tries() {
  Bytes text;
  if (!ReadFile(Dir() + "/tries", &text)) return 0;
  return std::atoi(std::string(text.begin(), text.end()).c_str());
}

void SetTries(int tries) { std::ofstream(Dir() + "/tries") << tries; }

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

void Load() {
  config = Config();
  std::ifstream conf(Dir() + "/token.conf");
  std::string line;
  while (std::getline(conf, line)) {
    std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    std::string key = line.substr(0, space), value = line.substr(space + 1);
    if (key == "label") config.label = value;
    if (key == "serial") config.serial = value;
    if (key == "pin") config.pin = value;
    if (key == "max-tries") config.max_tries = std::atoi(value.c_str());
    if (key == "sm2-mechanism") config.sm2_mechanism = std::strtoul(value.c_str(), nullptr, 0);
  }
  CK_OBJECT_HANDLE handle = 1;
  DIR* dir = ::opendir(Dir().c_str());
  if (dir == nullptr) return;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".key") != 0) continue;
    std::string id_hex = name.substr(0, name.size() - 4);
    Bytes der, cert;
    if (!ReadFile(Dir() + "/" + name, &der)) continue;
    const unsigned char* p = der.data();
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size()));
    if (key == nullptr) continue;
    Bytes id = FromHex(id_hex);
    objects[handle++] = Object{CKO_PRIVATE_KEY, id, key, {}};
    objects[handle++] = Object{CKO_PUBLIC_KEY, id, key, {}};
    if (ReadFile(Dir() + "/" + id_hex + ".crt", &cert)) {
      objects[handle++] = Object{CKO_CERTIFICATE, id, nullptr, cert};
    }
  }
  ::closedir(dir);
}

void Unload() {
  for (auto& [handle, object] : objects) {
    if (object.object_class == CKO_PRIVATE_KEY) EVP_PKEY_free(object.key);
  }
  objects.clear();
  sessions.clear();
  logged_in = false;
}

void Padded(const std::string& text, CK_UTF8CHAR* field, std::size_t size) {
  std::memset(field, ' ', size);
  std::memcpy(field, text.data(), std::min(text.size(), size));
}

bool IsSm2(EVP_PKEY* key) { return EVP_PKEY_is_a(key, "SM2"); }

CK_KEY_TYPE KeyType(EVP_PKEY* key) { return EVP_PKEY_is_a(key, "RSA") ? CKK_RSA : CKK_EC; }

// The r || s of a DER ECDSA-Sig-Value, each |half| bytes.
bool PlainSignature(const Bytes& der, std::size_t half, Bytes* out) {
  const unsigned char* p = der.data();
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
  if (sig == nullptr) return false;
  out->assign(2 * half, 0);
  bool ok = BN_bn2binpad(ECDSA_SIG_get0_r(sig), out->data(), static_cast<int>(half)) > 0 &&
            BN_bn2binpad(ECDSA_SIG_get0_s(sig), out->data() + half, static_cast<int>(half)) > 0;
  ECDSA_SIG_free(sig);
  return ok;
}

bool Attribute(const Object& o, CK_ATTRIBUTE_TYPE type, Bytes* value) {
  auto ulong_value = [&](CK_ULONG v) {
    value->assign(reinterpret_cast<unsigned char*>(&v),
                  reinterpret_cast<unsigned char*>(&v) + sizeof(v));
    return true;
  };
  switch (type) {
    case CKA_CLASS:
      return ulong_value(o.object_class);
    case CKA_ID:
      *value = o.id;
      return true;
    case CKA_LABEL:
      value->assign({'k'});
      return true;
    case CKA_CERTIFICATE_TYPE:
      return o.object_class == CKO_CERTIFICATE && ulong_value(CKC_X_509);
    case CKA_VALUE:
      if (o.object_class != CKO_CERTIFICATE) return false;
      *value = o.cert;
      return true;
    case CKA_KEY_TYPE:
      return o.key != nullptr && ulong_value(KeyType(o.key));
    case CKA_MODULUS:
    case CKA_PUBLIC_EXPONENT: {
      if (o.key == nullptr || KeyType(o.key) != CKK_RSA) return false;
      BIGNUM* bn = nullptr;
      EVP_PKEY_get_bn_param(
          o.key, type == CKA_MODULUS ? OSSL_PKEY_PARAM_RSA_N : OSSL_PKEY_PARAM_RSA_E, &bn);
      if (bn == nullptr) return false;
      value->assign(BN_num_bytes(bn), 0);
      BN_bn2bin(bn, value->data());
      BN_free(bn);
      return true;
    }
    case CKA_EC_PARAMS:
    case CKA_EC_POINT: {
      if (o.object_class != CKO_PUBLIC_KEY || KeyType(o.key) != CKK_EC) return false;
      unsigned char* der = nullptr;
      int len = i2d_PUBKEY(o.key, &der);
      if (len <= 0) return false;
      const unsigned char* p = der;
      X509_PUBKEY* spki = d2i_X509_PUBKEY(nullptr, &p, len);
      OPENSSL_free(der);
      const unsigned char* point = nullptr;
      int point_len = 0;
      X509_ALGOR* alg = nullptr;
      X509_PUBKEY_get0_param(nullptr, &point, &point_len, &alg, spki);
      const void* curve = nullptr;
      int param_type = 0;
      X509_ALGOR_get0(nullptr, &param_type, &curve, alg);
      if (type == CKA_EC_PARAMS) {
        unsigned char* out = nullptr;
        int out_len = i2d_ASN1_OBJECT(static_cast<const ASN1_OBJECT*>(curve), &out);
        value->assign(out, out + out_len);
        OPENSSL_free(out);
      } else {
        value->assign({0x04, static_cast<unsigned char>(point_len)});
        value->insert(value->end(), point, point + point_len);
      }
      X509_PUBKEY_free(spki);
      return true;
    }
    default:
      return false;
  }
}

bool Visible(const Object& o) { return o.object_class != CKO_PRIVATE_KEY || logged_in; }

// A pulled token forgets its login, as a card does.
CK_RV Gone() {
  if (Present()) return CKR_OK;
  std::lock_guard<std::mutex> lock(mu);
  logged_in = false;
  return CKR_DEVICE_REMOVED;
}

// --- the calls -------------------------------------------------------------

CK_RV Initialize(void*) {
  std::lock_guard<std::mutex> lock(mu);
  if (initialized) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
  Load();
  initialized = true;
  return CKR_OK;
}

CK_RV Finalize(void*) {
  std::lock_guard<std::mutex> lock(mu);
  Unload();
  initialized = false;
  return CKR_OK;
}

CK_RV GetInfo(CK_INFO* info) {
  std::memset(info, 0, sizeof(*info));
  info->cryptokiVersion = {2, 40};
  Padded("Quillmark tests", info->manufacturerID, sizeof(info->manufacturerID));
  Padded("test token module", info->libraryDescription, sizeof(info->libraryDescription));
  return CKR_OK;
}

CK_RV GetSlotList(CK_BBOOL token_present, CK_SLOT_ID* list, CK_ULONG* count) {
  CK_ULONG n = !token_present || Present() ? 1 : 0;
  if (list != nullptr) {
    if (*count < n) {
      *count = n;
      return CKR_BUFFER_TOO_SMALL;
    }
    if (n == 1) list[0] = kSlot;
  }
  *count = n;
  return CKR_OK;
}

CK_RV GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info) {
  if (slot != kSlot) return CKR_SLOT_ID_INVALID;
  std::memset(info, 0, sizeof(*info));
  Padded("test slot", info->slotDescription, sizeof(info->slotDescription));
  info->flags = CKF_REMOVABLE_DEVICE | (Present() ? CKF_TOKEN_PRESENT : 0);
  return CKR_OK;
}

CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
  if (slot != kSlot) return CKR_SLOT_ID_INVALID;
  if (!Present()) return CKR_TOKEN_NOT_PRESENT;
  std::lock_guard<std::mutex> lock(mu);
  std::memset(info, 0, sizeof(*info));
  Padded(config.label, info->label, sizeof(info->label));
  Padded("Quillmark tests", info->manufacturerID, sizeof(info->manufacturerID));
  Padded("test token", info->model, sizeof(info->model));
  Padded(config.serial, info->serialNumber, sizeof(info->serialNumber));
  info->flags = CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
  const int tries = Tries();
  if (tries > 0) info->flags |= CKF_USER_PIN_COUNT_LOW;
  if (tries == config.max_tries - 1) info->flags |= CKF_USER_PIN_FINAL_TRY;
  if (tries >= config.max_tries) info->flags |= CKF_USER_PIN_LOCKED;
  info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
  info->ulMaxPinLen = 64;
  info->ulMinPinLen = 1;
  return CKR_OK;
}

CK_RV OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
  if (slot != kSlot) return CKR_SLOT_ID_INVALID;
  if (!Present()) return CKR_TOKEN_NOT_PRESENT;
  if ((flags & CKF_SERIAL_SESSION) == 0) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
  std::lock_guard<std::mutex> lock(mu);
  *session = next_session++;
  sessions[*session] = Session();
  return CKR_OK;
}

CK_RV CloseSession(CK_SESSION_HANDLE session) {
  std::lock_guard<std::mutex> lock(mu);
  if (sessions.erase(session) == 0) return CKR_SESSION_HANDLE_INVALID;
  if (sessions.empty()) logged_in = false;
  return CKR_OK;
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info) {
  if (CK_RV rv = Gone()) return rv;
  std::lock_guard<std::mutex> lock(mu);
  if (sessions.count(session) == 0) return CKR_SESSION_HANDLE_INVALID;
  std::memset(info, 0, sizeof(*info));
  info->slotID = kSlot;
  info->state = logged_in ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION;
  info->flags = CKF_SERIAL_SESSION;
  return CKR_OK;
}

CK_RV Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG pin_len) {
  if (CK_RV rv = Gone()) return rv;
  std::lock_guard<std::mutex> lock(mu);
  if (sessions.count(session) == 0) return CKR_SESSION_HANDLE_INVALID;
  if (user != CKU_USER) return CKR_USER_TYPE_INVALID;
  if (logged_in) return CKR_USER_ALREADY_LOGGED_IN;
  const int tries = Tries();
  if (tries >= config.max_tries) return CKR_PIN_LOCKED;
  if (std::string(reinterpret_cast<char*>(pin), pin_len) != config.pin) {
    SetTries(tries + 1);
    return CKR_PIN_INCORRECT;
  }
  SetTries(0);
  logged_in = true;
  return CKR_OK;
}

CK_RV Logout(CK_SESSION_HANDLE session) {
  std::lock_guard<std::mutex> lock(mu);
  if (sessions.count(session) == 0) return CKR_SESSION_HANDLE_INVALID;
  if (!logged_in) return CKR_USER_NOT_LOGGED_IN;
  logged_in = false;
  return CKR_OK;
}

CK_RV FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE* templ, CK_ULONG count) {
  if (CK_RV rv = Gone()) return rv;
  std::lock_guard<std::mutex> lock(mu);
  auto s = sessions.find(session);
  if (s == sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  s->second.found.clear();
  s->second.next = 0;
  for (const auto& [handle, object] : objects) {
    bool match = Visible(object);
    for (CK_ULONG i = 0; match && i < count; ++i) {
      Bytes value;
      const auto* want = static_cast<const unsigned char*>(templ[i].pValue);
      match = Attribute(object, templ[i].type, &value) &&
              Bytes(want, want + templ[i].ulValueLen) == value;
    }
    if (match) s->second.found.push_back(handle);
  }
  return CKR_OK;
}

CK_RV FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* out, CK_ULONG max, CK_ULONG* count) {
  std::lock_guard<std::mutex> lock(mu);
  auto s = sessions.find(session);
  if (s == sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  *count = 0;
  while (*count < max && s->second.next < s->second.found.size()) {
    out[(*count)++] = s->second.found[s->second.next++];
  }
  return CKR_OK;
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE session) {
  std::lock_guard<std::mutex> lock(mu);
  return sessions.count(session) != 0 ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
}

CK_RV GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* templ,
                        CK_ULONG count) {
  if (CK_RV rv = Gone()) return rv;
  std::lock_guard<std::mutex> lock(mu);
  if (sessions.count(session) == 0) return CKR_SESSION_HANDLE_INVALID;
  auto o = objects.find(handle);
  if (o == objects.end() || !Visible(o->second)) return CKR_OBJECT_HANDLE_INVALID;
  CK_RV rv = CKR_OK;
  for (CK_ULONG i = 0; i < count; ++i) {
    Bytes value;
    if (!Attribute(o->second, templ[i].type, &value)) {
      templ[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
      rv = CKR_ATTRIBUTE_TYPE_INVALID;
      continue;
    }
    if (templ[i].pValue != nullptr) {
      if (templ[i].ulValueLen < value.size()) {
        rv = CKR_BUFFER_TOO_SMALL;
      } else {
        std::memcpy(templ[i].pValue, value.data(), value.size());
      }
    }
    templ[i].ulValueLen = value.size();
  }
  return rv;
}

CK_RV SignInit(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key) {
  if (CK_RV rv = Gone()) return rv;
  std::lock_guard<std::mutex> lock(mu);
  auto s = sessions.find(session);
  if (s == sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  if (!logged_in) return CKR_USER_NOT_LOGGED_IN;
  auto o = objects.find(key);
  if (o == objects.end() || o->second.object_class != CKO_PRIVATE_KEY)
    return CKR_KEY_HANDLE_INVALID;
  EVP_PKEY* k = o->second.key;
  const CK_MECHANISM_TYPE m = mechanism->mechanism;
  const bool fits = (m == CKM_RSA_PKCS && KeyType(k) == CKK_RSA) ||
                    (m == CKM_ECDSA && KeyType(k) == CKK_EC && !IsSm2(k)) ||
                    (m == config.sm2_mechanism && IsSm2(k));
  if (!fits) return CKR_MECHANISM_INVALID;
  s->second.sign_key = key;
  s->second.sign_mechanism = m;
  return CKR_OK;
}

CK_RV Sign(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG data_len, CK_BYTE* sig,
           CK_ULONG* sig_len) {
  if (CK_RV rv = Gone()) return rv;
  std::lock_guard<std::mutex> lock(mu);
  auto s = sessions.find(session);
  if (s == sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  if (s->second.sign_key == 0) return CKR_OPERATION_NOT_INITIALIZED;
  EVP_PKEY* key = objects[s->second.sign_key].key;
  const bool rsa = KeyType(key) == CKK_RSA;
  const std::size_t size = rsa ? static_cast<std::size_t>(EVP_PKEY_get_size(key))
                               : static_cast<std::size_t>((EVP_PKEY_get_bits(key) + 7) / 8) * 2;
  if (sig == nullptr) {
    *sig_len = size;
    return CKR_OK;
  }
  if (*sig_len < size) {
    *sig_len = size;
    return CKR_BUFFER_TOO_SMALL;
  }
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  Bytes out(EVP_PKEY_get_size(key) + 16);
  size_t len = out.size();
  bool ok = ctx != nullptr && EVP_PKEY_sign_init(ctx) > 0 &&
            (!rsa || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0) &&
            EVP_PKEY_sign(ctx, out.data(), &len, data, data_len) > 0;
  EVP_PKEY_CTX_free(ctx);
  s->second.sign_key = 0;
  if (!ok) return CKR_FUNCTION_FAILED;
  out.resize(len);
  Bytes value = out;
  if (!rsa && !PlainSignature(out, size / 2, &value)) return CKR_FUNCTION_FAILED;
  std::memcpy(sig, value.data(), value.size());
  *sig_len = value.size();
  return CKR_OK;
}

CK_RV DecryptInit(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key) {
  if (CK_RV rv = Gone()) return rv;
  std::lock_guard<std::mutex> lock(mu);
  auto s = sessions.find(session);
  if (s == sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  if (!logged_in) return CKR_USER_NOT_LOGGED_IN;
  auto o = objects.find(key);
  if (o == objects.end() || o->second.object_class != CKO_PRIVATE_KEY)
    return CKR_KEY_HANDLE_INVALID;
  if (mechanism->mechanism != CKM_RSA_PKCS || KeyType(o->second.key) != CKK_RSA) {
    return CKR_MECHANISM_INVALID;
  }
  s->second.decrypt_key = key;
  return CKR_OK;
}

CK_RV Decrypt(CK_SESSION_HANDLE session, CK_BYTE* in, CK_ULONG in_len, CK_BYTE* out,
              CK_ULONG* out_len) {
  if (CK_RV rv = Gone()) return rv;
  std::lock_guard<std::mutex> lock(mu);
  auto s = sessions.find(session);
  if (s == sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  if (s->second.decrypt_key == 0) return CKR_OPERATION_NOT_INITIALIZED;
  EVP_PKEY* key = objects[s->second.decrypt_key].key;
  if (out == nullptr) {
    *out_len = EVP_PKEY_get_size(key);
    return CKR_OK;
  }
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
  size_t len = *out_len;
  bool ok = ctx != nullptr && EVP_PKEY_decrypt_init(ctx) > 0 &&
            EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
            EVP_PKEY_decrypt(ctx, out, &len, in, in_len) > 0;
  EVP_PKEY_CTX_free(ctx);
  s->second.decrypt_key = 0;
  if (!ok) return CKR_ENCRYPTED_DATA_INVALID;
  *out_len = len;
  return CKR_OK;
}

CK_FUNCTION_LIST MakeList();
CK_FUNCTION_LIST function_list = MakeList();

CK_FUNCTION_LIST MakeList() {
  CK_FUNCTION_LIST list;
  std::memset(&list, 0, sizeof(list));
  list.version = {2, 40};
  list.C_Initialize = Initialize;
  list.C_Finalize = Finalize;
  list.C_GetInfo = GetInfo;
  list.C_GetFunctionList = C_GetFunctionList;
  list.C_GetSlotList = GetSlotList;
  list.C_GetSlotInfo = GetSlotInfo;
  list.C_GetTokenInfo = GetTokenInfo;
  list.C_OpenSession = OpenSession;
  list.C_CloseSession = CloseSession;
  list.C_GetSessionInfo = GetSessionInfo;
  list.C_Login = Login;
  list.C_Logout = Logout;
  list.C_FindObjectsInit = FindObjectsInit;
  list.C_FindObjects = FindObjects;
  list.C_FindObjectsFinal = FindObjectsFinal;
  list.C_GetAttributeValue = GetAttributeValue;
  list.C_SignInit = SignInit;
  list.C_Sign = Sign;
  list.C_DecryptInit = DecryptInit;
  list.C_Decrypt = Decrypt;
  return list;
}

}  // namespace

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
  if (list == nullptr) return CKR_ARGUMENTS_BAD;
  *list = &function_list;
  return CKR_OK;
}
