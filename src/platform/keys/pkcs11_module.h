// PKCS#11 modules loaded into the process, and the sessions opened on them.
// Only the token code of platform/keys includes this.
//
// A module is loaded once per path (dlopen, C_GetFunctionList, C_Initialize
// with OS locking) and stays loaded for the rest of the process: tokens come
// and go, the module does not. Sessions close themselves (C_CloseSession).
//
//   std::shared_ptr<p11::Module> m;
//   std::string why;
//   if (!p11::LoadModule("/usr/lib/softhsm/libsofthsm2.so", &m, &why)) ...
//   for (CK_SLOT_ID slot : m->SlotsWithTokens()) ...
#ifndef QUILLMARK_PLATFORM_KEYS_PKCS11_MODULE_H_
#define QUILLMARK_PLATFORM_KEYS_PKCS11_MODULE_H_

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform::p11 {

class Module {
 public:
  Module(std::string path, void* library, CK_FUNCTION_LIST* functions)
      : path_(std::move(path)), library_(library), f_(functions) {}
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const std::string& path() const { return path_; }
  CK_FUNCTION_LIST* f() const { return f_; }

  // Slots that hold a token now; empty when the module cannot say.
  std::vector<CK_SLOT_ID> SlotsWithTokens() const;

 private:
  std::string path_;
  void* library_;  // from dlopen; never closed
  CK_FUNCTION_LIST* f_;
};

// The module at |path|, loaded now or earlier. False with a one-line reason.
bool LoadModule(const std::string& path, std::shared_ptr<Module>* module, std::string* why);

// An open session; closes itself.
class Session {
 public:
  Session() = default;
  Session(std::shared_ptr<Module> module, CK_SESSION_HANDLE handle)
      : module_(std::move(module)), handle_(handle) {}
  ~Session() { Close(); }
  Session(Session&& other) noexcept { *this = std::move(other); }
  Session& operator=(Session&& other) noexcept;

  bool is_open() const { return module_ != nullptr; }
  CK_SESSION_HANDLE handle() const { return handle_; }
  CK_FUNCTION_LIST* f() const { return module_->f(); }
  const std::shared_ptr<Module>& module() const { return module_; }
  void Close();

 private:
  std::shared_ptr<Module> module_;
  CK_SESSION_HANDLE handle_ = 0;
};

// Opens a read-only session on |slot|; CKR_OK or the module's answer.
CK_RV OpenSession(const std::shared_ptr<Module>& module, CK_SLOT_ID slot, Session* session);

// Objects of |object_class| with CKA_ID |id| (any id when |id| is null).
std::vector<CK_OBJECT_HANDLE> FindObjects(const Session& session, CK_OBJECT_CLASS object_class,
                                          const Bytes* id, std::size_t limit = 256);

// The value of one attribute; false when the object has none or it is
// sensitive.
bool GetAttribute(const Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                  Bytes* value);
bool GetUlongAttribute(const Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                       CK_ULONG* value);

// A blank-padded fixed-size field of a token or slot info, trimmed.
std::string FixedText(const unsigned char* text, std::size_t size);

// The platform error value for a module's failure |rv|: a wrong PIN
// (kScardWWrongChv), a locked PIN (kScardWChvBlocked), a token that is gone
// (kScardENoSmartcard), a cancel (kScardWCancelledByUser), else kNteFail.
std::uint32_t PlatformError(CK_RV rv);

}  // namespace quillmark::platform::p11

#endif  // QUILLMARK_PLATFORM_KEYS_PKCS11_MODULE_H_
