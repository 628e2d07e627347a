#include "platform/keys/pkcs11_module.h"

#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "common/no_destructor.h"
#include "platform/keys/key_provider.h"
#include "platform/keys/token_provider.h"
#include "platform/os/last_error.h"

namespace quillmark::platform::p11 {

namespace {

std::mutex& ModulesMutex() {
  static std::mutex mu;
  return mu;
}

// Loaded modules by path, for the life of the process. A module is never
// finalized: a token's session may outlive any one caller.
std::map<std::string, std::shared_ptr<Module>>& Loaded() {
  static NoDestructor<std::map<std::string, std::shared_ptr<Module>>> loaded;
  return *loaded;
}

std::string RvText(CK_RV rv) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(rv));
  return text;
}

}  // namespace

std::vector<CK_SLOT_ID> Module::SlotsWithTokens() const {
  for (int attempt = 0; attempt < 3; ++attempt) {
    CK_ULONG count = 0;
    if (f_->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK) return {};
    std::vector<CK_SLOT_ID> slots(count);
    CK_RV rv = f_->C_GetSlotList(CK_TRUE, slots.data(), &count);
    if (rv == CKR_BUFFER_TOO_SMALL) continue;  // a token arrived in between
    if (rv != CKR_OK) return {};
    slots.resize(count);
    return slots;
  }
  return {};
}

bool LoadModule(const std::string& path, std::shared_ptr<Module>* module, std::string* why) {
  std::lock_guard<std::mutex> lock(ModulesMutex());
  auto it = Loaded().find(path);
  if (it != Loaded().end()) {
    *module = it->second;
    return true;
  }
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* error = ::dlerror();
    *why = "cannot load " + path + ": " + (error != nullptr ? error : "unknown error");
    return false;
  }
  auto get_list = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(library, "C_GetFunctionList"));
  CK_FUNCTION_LIST* functions = nullptr;
  if (get_list == nullptr || get_list(&functions) != CKR_OK || functions == nullptr) {
    ::dlclose(library);
    *why = path + " is not a PKCS#11 module (no C_GetFunctionList)";
    return false;
  }
  CK_C_INITIALIZE_ARGS args{};
  args.flags = CKF_OS_LOCKING_OK;
  CK_RV rv = functions->C_Initialize(&args);
  if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
    ::dlclose(library);
    *why = path + " failed to initialize (" + RvText(rv) + ")";
    return false;
  }
  auto loaded = std::make_shared<Module>(path, library, functions);
  Loaded()[path] = loaded;
  *module = std::move(loaded);
  return true;
}

Session& Session::operator=(Session&& other) noexcept {
  if (this != &other) {
    Close();
    module_ = std::move(other.module_);
    handle_ = other.handle_;
    other.module_ = nullptr;
  }
  return *this;
}

void Session::Close() {
  if (module_ != nullptr) module_->f()->C_CloseSession(handle_);
  module_ = nullptr;
}

CK_RV OpenSession(const std::shared_ptr<Module>& module, CK_SLOT_ID slot, Session* session) {
  CK_SESSION_HANDLE handle = 0;
  CK_RV rv = module->f()->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle);
  if (rv == CKR_OK) *session = Session(module, handle);
  return rv;
}

std::vector<CK_OBJECT_HANDLE> FindObjects(const Session& session, CK_OBJECT_CLASS object_class,
                                          const Bytes* id, std::size_t limit) {
  CK_ATTRIBUTE want[2] = {
      {CKA_CLASS, &object_class, sizeof(object_class)},
      {CKA_ID, id != nullptr ? const_cast<std::uint8_t*>(id->data()) : nullptr,
       id != nullptr ? id->size() : 0},
  };
  std::vector<CK_OBJECT_HANDLE> found;
  if (session.f()->C_FindObjectsInit(session.handle(), want, id != nullptr ? 2 : 1) != CKR_OK) {
    return found;
  }
  CK_OBJECT_HANDLE batch[32];
  CK_ULONG count = 0;
  while (found.size() < limit &&
         session.f()->C_FindObjects(session.handle(), batch, 32, &count) == CKR_OK && count > 0) {
    found.insert(found.end(), batch, batch + count);
  }
  session.f()->C_FindObjectsFinal(session.handle());
  if (found.size() > limit) found.resize(limit);
  return found;
}

bool GetAttribute(const Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                  Bytes* value) {
  CK_ATTRIBUTE attr = {type, nullptr, 0};
  if (session.f()->C_GetAttributeValue(session.handle(), object, &attr, 1) != CKR_OK ||
      attr.ulValueLen == CK_UNAVAILABLE_INFORMATION || attr.ulValueLen > (1u << 20)) {
    return false;
  }
  value->assign(attr.ulValueLen, 0);
  attr.pValue = value->data();
  if (session.f()->C_GetAttributeValue(session.handle(), object, &attr, 1) != CKR_OK) return false;
  value->resize(attr.ulValueLen);
  return true;
}

bool GetUlongAttribute(const Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                       CK_ULONG* value) {
  CK_ATTRIBUTE attr = {type, value, sizeof(*value)};
  return session.f()->C_GetAttributeValue(session.handle(), object, &attr, 1) == CKR_OK;
}

std::string FixedText(const unsigned char* text, std::size_t size) {
  std::string out(reinterpret_cast<const char*>(text), size);
  while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
  return out;
}

std::uint32_t PlatformError(CK_RV rv) {
  switch (rv) {
    case CKR_PIN_INCORRECT:
    case CKR_PIN_INVALID:
    case CKR_PIN_LEN_RANGE:
      return kScardWWrongChv;
    case CKR_PIN_LOCKED:
      return kScardWChvBlocked;
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_TOKEN_NOT_RECOGNIZED:
    case CKR_DEVICE_REMOVED:
    case CKR_SLOT_ID_INVALID:
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_SESSION_CLOSED:
    case CKR_OBJECT_HANDLE_INVALID:
    case CKR_KEY_HANDLE_INVALID:
      return kScardENoSmartcard;
    case CKR_FUNCTION_CANCELED:
      return kScardWCancelledByUser;
    case CKR_HOST_MEMORY:
      return kNteNoMemory;
    default:
      return kNteFail;
  }
}

}  // namespace quillmark::platform::p11
