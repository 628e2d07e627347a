#include "platform/automation/win/server_module.h"

#include <windows.h>

#include <oleauto.h>

#include <atomic>
#include <cstring>
#include <string>

namespace quillmark::platform {
namespace automation_win {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// The module's file name: long paths are allowed for.
bool ModulePath(std::wstring* path) {
  path->assign(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(ThisModule(), path->data(), static_cast<DWORD>(path->size()));
    if (n == 0) return false;
    if (n < path->size()) {
      path->resize(n);
      return true;
    }
    if (path->size() >= 32768) return false;
    path->resize(path->size() * 2);
  }
}

}  // namespace

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }
void LockModule() { ++g_locks; }

bool UnlockModule() {
  long value = g_locks.load();
  do {
    if (value == 0) return false;
  } while (!g_locks.compare_exchange_weak(value, value - 1));
  return true;
}

bool ModuleIdle() { return g_objects.load() == 0 && g_locks.load() == 0; }

GUID ToGuid(const AutomationGuid& guid) {
  static_assert(sizeof(GUID) == sizeof(AutomationGuid));
  GUID out;
  std::memcpy(&out, &guid, sizeof out);
  return out;
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

HRESULT LoadModuleTypeLibrary(ITypeLib** library) {
  *library = nullptr;
  std::wstring path;
  if (!ModulePath(&path)) return HRESULT_FROM_WIN32(GetLastError());
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
}

HRESULT LoadModuleTypeInfo(const GUID& guid, ITypeInfo** info) {
  *info = nullptr;
  ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleTypeLibrary(&library);
  if (FAILED(hr)) return hr;
  hr = library->GetTypeInfoOfGuid(guid, info);
  library->Release();
  return hr;
}

}  // namespace automation_win

std::int32_t RegisterModuleTypeLibrary() {
  std::wstring path;
  if (!automation_win::ModulePath(&path)) return HRESULT_FROM_WIN32(GetLastError());
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library);
  if (library != nullptr) library->Release();
  return hr;
}

std::int32_t UnregisterModuleTypeLibrary(const AutomationGuid& libid) {
  const GUID id = automation_win::ToGuid(libid);
  // Only this module's own entry: a module of the other bitness registered
  // beside it keeps its own. Nothing registered for this system kind
  // answers E_INVALIDARG, so that counts as nothing to remove.
#if defined(_WIN64)
  constexpr SYSKIND kind = SYS_WIN64;
#else
  constexpr SYSKIND kind = SYS_WIN32;
#endif
  HRESULT hr = UnRegisterTypeLib(id, 1, 0, LOCALE_NEUTRAL, kind);
  if (hr != S_OK && hr != E_INVALIDARG && hr != TYPE_E_REGISTRYACCESS &&
      hr != TYPE_E_LIBNOTREGISTERED && hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    return hr;
  }
  return S_OK;
}

}  // namespace quillmark::platform
