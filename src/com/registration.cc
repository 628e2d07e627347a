#include "com/registration.h"

#include <new>
#include <optional>
#include <string>

#include "common/unicode.h"
#include "control/guids.h"
#include "platform/os/files.h"
#include "platform/os/module_path.h"
#include "platform/os/paths.h"
#include "platform/registry/registry.h"

namespace quillmark::com {

using ::quillmark::control::GuidToString;
using ::quillmark::control::HRESULT;
using ::quillmark::control::ILydraCorvaneQuillmark;
using ::quillmark::control::kClassKeyPath;
using ::quillmark::control::kClsidText;
using ::quillmark::control::kCtlSettingsKeyPath;
using ::quillmark::control::kIidILydraCorvaneQuillmark;
using ::quillmark::control::kLibidText;
using ::quillmark::control::kStubPathValueName;
using ::quillmark::control::S_OK;
using ::quillmark::control::SELFREG_E_CLASS;
namespace {

using platform::kErrorFileNotFound;
using platform::kErrorSuccess;
using platform::kHkeyClassesRoot;

constexpr std::u16string_view kProxyStubClsid = u"{00020424-0000-0000-C000-000000000046}";

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::u16string TypeLibKeyPath() { return u"TypeLib\\" + std::u16string(kLibidText); }

// The module's own entry: the other bitness's module has its own beside it.
std::u16string TypeLibPlatformKeyPath() {
  return TypeLibKeyPath() + u"\\1.0\\0\\" + std::u16string(platform::kModuleTypeLibPlatform);
}

std::u16string InterfaceKeyPath() {
  return u"Interface\\" + Utf16(GuidToString(kIidILydraCorvaneQuillmark));
}

// Writes below HKEY_CLASSES_ROOT in order, keeping the first failure.
class ClassesRootWriter {
 public:
  // Creates |path| (and its parents) and, when given, sets its default value.
  void Key(std::u16string_view path, std::optional<std::u16string_view> default_value) {
    platform::RegKey key;
    if (!Open(path, &key)) return;
    if (default_value.has_value()) Set(key, u"", *default_value);
  }

  // Creates |path| and sets the named value |name|.
  void Value(std::u16string_view path, std::u16string_view name, std::u16string_view text) {
    platform::RegKey key;
    if (Open(path, &key)) Set(key, name, text);
  }

  std::uint32_t error() const { return error_; }

 private:
  bool Open(std::u16string_view path, platform::RegKey* key) {
    if (error_ != kErrorSuccess) return false;
    error_ = platform::RegCreateKeyExW(kHkeyClassesRoot, path, platform::kRegOptionNonVolatile,
                                       platform::kKeyAllAccess, key, nullptr);
    return error_ == kErrorSuccess;
  }

  void Set(const platform::RegKey& key, std::u16string_view name, std::u16string_view text) {
    error_ =
        platform::RegSetValueExW(key, name, platform::kRegSz, platform::RegistryStringBytes(text));
  }

  std::uint32_t error_ = kErrorSuccess;
};

// Deletes |path| with everything below it; a missing key is fine.
std::uint32_t DeleteTree(std::u16string_view path) {
  std::uint32_t error = platform::RegDeleteTreeW(kHkeyClassesRoot, path);
  return error == kErrorFileNotFound ? kErrorSuccess : error;
}

// Deletes |path| when it is there and has no subkeys left.
std::uint32_t DeleteIfEmpty(std::u16string_view path) {
  platform::RegKey key;
  std::uint32_t error =
      platform::RegOpenKeyExW(kHkeyClassesRoot, path, 0, platform::kKeyRead, &key);
  if (error == kErrorFileNotFound) return kErrorSuccess;
  if (error != kErrorSuccess) return error;
  std::u16string name;
  if (platform::RegEnumKeyExW(key, 0, &name) == kErrorSuccess) return kErrorSuccess;
  platform::RegCloseKey(&key);
  error = platform::RegDeleteKeyW(kHkeyClassesRoot, path);
  return error == kErrorFileNotFound ? kErrorSuccess : error;
}

// Removes the module's entry of the type library, then the version key when
// nothing but its FLAGS and HELPDIR is left there (as UnRegisterTypeLib
// does), then the library's key when empty.
std::uint32_t DeleteTypeLibEntry() {
  const std::u16string version = TypeLibKeyPath() + u"\\1.0";
  std::uint32_t first_error = DeleteTree(TypeLibPlatformKeyPath());
  auto keep = [&first_error](std::uint32_t error) {
    if (first_error == kErrorSuccess) first_error = error;
  };
  keep(DeleteIfEmpty(version + u"\\0"));
  platform::RegKey key;
  std::uint32_t error =
      platform::RegOpenKeyExW(kHkeyClassesRoot, version, 0, platform::kKeyRead, &key);
  if (error == kErrorSuccess) {
    bool others = false;
    std::u16string name;
    for (std::uint32_t i = 0; platform::RegEnumKeyExW(key, i, &name) == kErrorSuccess; ++i) {
      if (name != u"FLAGS" && name != u"HELPDIR") others = true;
    }
    platform::RegCloseKey(&key);
    if (!others) keep(DeleteTree(version));
  } else if (error != kErrorFileNotFound) {
    keep(error);
  }
  keep(DeleteIfEmpty(TypeLibKeyPath()));
  return first_error;
}

// The ProgIDs and the class key with everything below it.
void WriteClassEntries(const std::u16string& module, const std::u16string& stub_path,
                       ClassesRootWriter* w) {
  const std::u16string clsid(kClsidText);
  const std::u16string class_key(kClassKeyPath);
  const std::u16string progid(kProgId);
  const std::u16string independent(kVersionIndependentProgId);
  w->Key(progid, kClassDescription);
  w->Key(progid + u"\\CLSID", clsid);
  w->Key(independent, kClassDescription);
  w->Key(independent + u"\\CLSID", clsid);
  w->Key(independent + u"\\CurVer", progid);

  w->Key(class_key, kClassDescription);
  w->Key(class_key + u"\\ProgID", progid);
  w->Key(class_key + u"\\VersionIndependentProgID", independent);
  w->Key(class_key + u"\\Programmable", std::nullopt);
  w->Key(class_key + u"\\InprocServer32", module);
  w->Value(class_key + u"\\InprocServer32", u"ThreadingModel", u"Apartment");
  w->Value(std::u16string(kCtlSettingsKeyPath), kStubPathValueName, stub_path);
  w->Key(class_key + u"\\Control", std::nullopt);
  w->Key(class_key + u"\\Insertable", std::nullopt);
  w->Key(class_key + u"\\ToolboxBitmap32", module + u", 101");
  w->Key(class_key + u"\\MiscStatus", u"0");
  w->Key(class_key + u"\\MiscStatus\\1", u"131473");
  w->Key(class_key + u"\\TypeLib", kLibidText);
  w->Key(class_key + u"\\Version", u"1.0");
}

// The type library and its dual interface.
void WriteTypeLibEntries(const std::u16string& module, ClassesRootWriter* w) {
  const std::u16string typelib_version = TypeLibKeyPath() + u"\\1.0";
  // The module's folder, with its last separator.
  std::u16string folder = module.substr(0, module.size() - platform::PathFileName(module).size());
  w->Key(typelib_version, u"LydraQuillmark 1.0 Type Library");
  w->Key(TypeLibPlatformKeyPath(), module);
  w->Key(typelib_version + u"\\FLAGS", u"0");
  w->Key(typelib_version + u"\\HELPDIR", folder);
  const std::u16string interface_key = InterfaceKeyPath();
  w->Key(interface_key, u"ILydraCorvaneQuillmark");
  w->Key(interface_key + u"\\ProxyStubClsid", kProxyStubClsid);
  w->Key(interface_key + u"\\ProxyStubClsid32", kProxyStubClsid);
  w->Key(interface_key + u"\\TypeLib", kLibidText);
  w->Value(interface_key + u"\\TypeLib", u"Version", u"1.0");
}

}  // namespace

HRESULT RegisterServer() {
  std::u16string module;
  if (!platform::GetModuleFileNameW(&module)) return SELFREG_E_CLASS;
  std::u16string stub_path = DefaultStubPath();
  if (stub_path.empty()) return SELFREG_E_CLASS;

  // Every change below is one rewrite of the registry file.
  platform::RegTransaction transaction;
  if (transaction.status() != kErrorSuccess) return HresultFromWin32(transaction.status());
  // A fresh class key: nothing of an earlier registration survives below it.
  std::uint32_t error = DeleteTree(kClassKeyPath);
  if (error != kErrorSuccess) return HresultFromWin32(error);

  ClassesRootWriter w;
  WriteClassEntries(module, stub_path, &w);
  WriteTypeLibEntries(module, &w);
  if (w.error() != kErrorSuccess) return HresultFromWin32(w.error());
  if (std::uint32_t rc = transaction.Commit(); rc != kErrorSuccess) return HresultFromWin32(rc);
  // The control saves received files into stubPath; the folder is made here,
  // as an installer would, so that server-mode saves work from the start.
  std::string stub_folder;
  if (!Utf16ToUtf8(stub_path, &stub_folder) || !platform::MakeDirectories(stub_folder, 0700)) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT UnregisterServer() {
  const std::u16string paths[] = {
      std::u16string(kClassKeyPath),
      std::u16string(kProgId),
      std::u16string(kVersionIndependentProgId),
      InterfaceKeyPath(),
  };
  // Every change below is one rewrite of the registry file.
  platform::RegTransaction transaction;
  if (transaction.status() != kErrorSuccess) return HresultFromWin32(transaction.status());
  std::uint32_t first_error = kErrorSuccess;
  for (const std::u16string& path : paths) {
    std::uint32_t error = DeleteTree(path);
    if (first_error == kErrorSuccess) first_error = error;
  }
  std::uint32_t error = DeleteTypeLibEntry();
  if (first_error == kErrorSuccess) first_error = error;
  // Keys already removed are not undone by a later failure, as before: what
  // could be removed is written.
  error = transaction.Commit();
  if (first_error == kErrorSuccess) first_error = error;
  return HresultFromWin32(first_error);
}

}  // namespace quillmark::com
