#include "platform/keys/token_catalog.h"

#include <openssl/sha.h>

#include <cstdio>
#include <mutex>

#include "common/no_destructor.h"
#include "common/unicode.h"
#include "platform/keys/pkcs11_module.h"
#include "platform/keys/token_modules.h"
#include "platform/keys/token_objects.h"
#include "platform/keys/token_provider.h"
#include "platform/os/secret_input.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

namespace {

constexpr std::size_t kMaxTokens = 64;
constexpr std::size_t kMaxObjects = 256;

struct InsertedToken {
  std::shared_ptr<p11::Module> module;
  CK_SLOT_ID slot = 0;
  CK_TOKEN_INFO info{};
};

std::vector<InsertedToken> InsertedTokens(std::vector<std::string>* failures) {
  std::vector<InsertedToken> tokens;
  std::string why;
  std::vector<TokenModule> modules = TokenModules(&why);
  if (!why.empty() && failures != nullptr) failures->push_back(why);
  for (const TokenModule& m : modules) {
    std::shared_ptr<p11::Module> module;
    if (!p11::LoadModule(m.path, &module, &why)) {
      if (failures != nullptr) failures->push_back(why);
      continue;
    }
    for (CK_SLOT_ID slot : module->SlotsWithTokens()) {
      if (tokens.size() == kMaxTokens) return tokens;
      InsertedToken token{module, slot, {}};
      // A blank token (a free slot of a software token) holds nothing yet.
      if (p11::TokenInfoOf(*module, slot, &token.info) &&
          (token.info.flags & CKF_TOKEN_INITIALIZED) != 0) {
        tokens.push_back(std::move(token));
      }
    }
  }
  return tokens;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  for (std::uint8_t b : bytes) {
    char two[3];
    std::snprintf(two, sizeof(two), "%02X", b);
    out += two;
  }
  return out;
}

std::string KeyTypeName(CK_KEY_TYPE type) {
  if (type == CKK_RSA) return "RSA";
  if (type == CKK_EC) return "EC";
  char text[24];
  std::snprintf(text, sizeof(text), "0x%lX", static_cast<unsigned long>(type));
  return text;
}

std::string Serial(const CK_TOKEN_INFO& info) {
  return p11::FixedText(info.serialNumber, sizeof(info.serialNumber));
}

// Adds the token's certificates that have keys to |my|.
void PropagateFrom(const InsertedToken& token, const CertStore& my, TokenSyncReport* report) {
  p11::Session session;
  if (p11::OpenSession(token.module, token.slot, &session) != CKR_OK) return;
  ++report->tokens;
  std::vector<p11::TokenKey> keys = p11::KeysOn(session, kMaxObjects);
  const bool keys_behind_pin = (token.info.flags & CKF_LOGIN_REQUIRED) != 0;
  for (const p11::TokenCertificate& cert : p11::CertificatesOn(session, kMaxObjects)) {
    if (cert.id.empty()) continue;
    bool has_key = keys_behind_pin;
    for (const p11::TokenKey& key : keys) has_key = has_key || key.id == cert.id;
    if (!has_key) continue;
    KeyProvInfo info;
    std::string container = TokenContainerName(Serial(token.info), cert.id);
    if (!Utf8ToUtf16(container, &info.container)) continue;
    info.provider = std::u16string(kTokenProviderName);
    info.provider_type = kProvRsaFull;
    info.key_spec = kAtKeyExchange;
    std::uint8_t sha1[SHA_DIGEST_LENGTH];
    SHA1(cert.der.data(), cert.der.size(), sha1);
    CertContextPtr there = CertFindCertificateInStore(my, kDefaultEncoding, 0, kCertFindSha1Hash,
                                                      ByteSpan(sha1, sizeof(sha1)), nullptr);
    if (there != nullptr && there->key_prov_info() == info) {
      ++report->unchanged;
      continue;
    }
    if (CertAddEncodedCertificateWithKeyToStore(my, cert.der, info, nullptr)) {
      ++report->added;
    } else {
      report->failures.push_back("cannot add the certificate " + container + " to MY");
    }
  }
}

// The set of inserted tokens as last seen by PropagateTokenCertificates.
struct SeenTokens {
  std::mutex mu;
  bool scanned = false;
  std::string fingerprint;
};

SeenTokens& Seen() {
  static NoDestructor<SeenTokens> seen;
  return *seen;
}

}  // namespace

std::string TokenFlagNames(std::uint64_t flags) {
  static constexpr struct {
    std::uint64_t flag;
    const char* name;
  } kNames[] = {
      {CKF_RNG, "rng"},
      {CKF_WRITE_PROTECTED, "write-protected"},
      {CKF_LOGIN_REQUIRED, "login-required"},
      {CKF_USER_PIN_INITIALIZED, "user-pin-initialized"},
      {CKF_PROTECTED_AUTHENTICATION_PATH, "protected-authentication-path"},
      {CKF_TOKEN_INITIALIZED, "token-initialized"},
      {CKF_USER_PIN_COUNT_LOW, "user-pin-count-low"},
      {CKF_USER_PIN_FINAL_TRY, "user-pin-final-try"},
      {CKF_USER_PIN_LOCKED, "user-pin-locked"},
      {CKF_USER_PIN_TO_BE_CHANGED, "user-pin-to-be-changed"},
  };
  std::string names;
  for (const auto& n : kNames) {
    if ((flags & n.flag) == 0) continue;
    if (!names.empty()) names += ' ';
    names += n.name;
  }
  return names;
}

std::vector<TokenEntry> ListTokens(std::vector<std::string>* failures) {
  std::vector<TokenEntry> entries;
  for (const InsertedToken& token : InsertedTokens(failures)) {
    TokenEntry entry;
    entry.module = token.module->path();
    entry.label = p11::FixedText(token.info.label, sizeof(token.info.label));
    entry.serial = Serial(token.info);
    entry.manufacturer =
        p11::FixedText(token.info.manufacturerID, sizeof(token.info.manufacturerID));
    entry.model = p11::FixedText(token.info.model, sizeof(token.info.model));
    entry.flags = token.info.flags;
    p11::Session session;
    if (p11::OpenSession(token.module, token.slot, &session) == CKR_OK) {
      for (p11::TokenCertificate& cert : p11::CertificatesOn(session, kMaxObjects)) {
        entry.objects.push_back(
            {"certificate", "", Hex(cert.id), std::move(cert.label), std::move(cert.der)});
      }
      for (p11::TokenKey& key : p11::KeysOn(session, kMaxObjects)) {
        entry.objects.push_back({key.object_class == CKO_PRIVATE_KEY ? "private-key" : "public-key",
                                 KeyTypeName(key.key_type), Hex(key.id), std::move(key.label),
                                 Bytes()});
      }
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

TokenSyncReport SyncTokenCertificates() {
  TokenSyncReport report;
  std::vector<InsertedToken> tokens = InsertedTokens(&report.failures);
  if (tokens.empty()) return report;
  CertStore my =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"MY");
  if (!my.is_open()) {
    report.failures.push_back("cannot open the MY store");
    return report;
  }
  for (const InsertedToken& token : tokens) PropagateFrom(token, my, &report);
  return report;
}

void PropagateTokenCertificates() {
  std::vector<InsertedToken> tokens = InsertedTokens(nullptr);
  std::string fingerprint;
  for (const InsertedToken& token : tokens) {
    fingerprint +=
        token.module->path() + '\n' + std::to_string(token.slot) + '\n' + Serial(token.info) + '\n';
  }
  SeenTokens& seen = Seen();
  std::lock_guard<std::mutex> lock(seen.mu);
  if (seen.scanned && seen.fingerprint == fingerprint) return;
  seen.scanned = true;
  seen.fingerprint = fingerprint;
  if (tokens.empty()) return;
  CertStore my =
      CertOpenStore(kCertStoreProvSystemW, kDefaultEncoding, kCertSystemStoreCurrentUser, u"MY");
  if (!my.is_open()) return;
  TokenSyncReport report;
  for (const InsertedToken& token : tokens) PropagateFrom(token, my, &report);
}

bool StoreCertificateOnToken(const std::string& serial, const std::string& pin, ByteSpan der,
                             ByteSpan id, const std::string& label, std::string* why) {
  for (const InsertedToken& token : InsertedTokens(nullptr)) {
    if (Serial(token.info) != serial) continue;
    CK_SESSION_HANDLE handle = 0;
    CK_FUNCTION_LIST* f = token.module->f();
    if (f->C_OpenSession(token.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                         &handle) != CKR_OK) {
      *why = "cannot open a session on token " + serial;
      return false;
    }
    p11::Session session(token.module, handle);
    std::string secret = pin;
    CK_RV rv =
        f->C_Login(handle, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(secret.data()), secret.size());
    WipeSecret(&secret);
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
      *why = "cannot log in to token " + serial;
      return false;
    }
    CertContextPtr cert = CertCreateCertificateContext(kDefaultEncoding, der);
    if (cert == nullptr) {
      *why = "not a certificate";
      f->C_Logout(handle);
      return false;
    }
    CK_OBJECT_CLASS object_class = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    Bytes subject(cert->subject_der().begin(), cert->subject_der().end());
    Bytes id_copy(id.begin(), id.end());
    Bytes value(der.begin(), der.end());
    std::string label_copy = label;
    CK_ATTRIBUTE attrs[] = {
        {CKA_CLASS, &object_class, sizeof(object_class)},
        {CKA_CERTIFICATE_TYPE, &type, sizeof(type)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_ID, id_copy.data(), id_copy.size()},
        {CKA_LABEL, label_copy.data(), label_copy.size()},
        {CKA_SUBJECT, subject.data(), subject.size()},
        {CKA_VALUE, value.data(), value.size()},
    };
    CK_OBJECT_HANDLE object = 0;
    rv = f->C_CreateObject(handle, attrs, sizeof(attrs) / sizeof(attrs[0]), &object);
    f->C_Logout(handle);
    if (rv != CKR_OK) {
      *why = "the token refused the certificate";
      return false;
    }
    return true;
  }
  *why = "no token " + serial;
  return false;
}

}  // namespace quillmark::platform
