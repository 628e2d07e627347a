#include "platform/os/network.h"
#include "platform/os/effect_audit.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <algorithm>
#include <new>
#include <vector>

#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

constexpr UINT kLoopbackType = 24;  // MIB_IF_TYPE_LOOPBACK

std::uint32_t Fail(std::uint32_t error) {
  SetLastError(error);
  return error;
}

}  // namespace

std::uint32_t GetAdaptersInfo(std::vector<IpAdapterInfo>* adapters) {
  NoteEffect(Effect::kMachineInfo);
  if (adapters == nullptr) return Fail(kErrorInvalidParameter);
  try {
    // The list can grow between the size call and the fill call: asked again.
    ULONG size = 16 * sizeof(IP_ADAPTER_INFO);
    std::vector<std::uint8_t> buffer;
    DWORD rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
      buffer.assign(size, 0);
      rc = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (rc == ERROR_NO_DATA) return Fail(kErrorNoData);
    if (rc == ERROR_NOT_ENOUGH_MEMORY) return Fail(kErrorNotEnoughMemory);
    if (rc != ERROR_SUCCESS) return Fail(kErrorNotSupported);
    std::vector<IpAdapterInfo> found;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); a != nullptr;
         a = a->Next) {
      if (a->Type == kLoopbackType || a->AddressLength < 6 ||
          a->AddressLength > sizeof a->Address) {
        continue;
      }
      IpAdapterInfo info;
      info.address.assign(a->Address, a->Address + a->AddressLength);
      if (std::all_of(info.address.begin(), info.address.end(), [](auto b) { return b == 0; })) {
        continue;
      }
      info.adapter_name = a->AdapterName;  // "{GUID}", ASCII
      info.description = a->Description;
      info.index = a->Index;
      info.type = a->Type;
      found.push_back(std::move(info));
    }
    std::sort(found.begin(), found.end(),
              [](const IpAdapterInfo& a, const IpAdapterInfo& b) { return a.index < b.index; });
    if (found.empty()) return Fail(kErrorNoData);
    *adapters = std::move(found);
    return kErrorSuccess;
  } catch (const std::bad_alloc&) {
    return Fail(kErrorNotEnoughMemory);
  }
}

}  // namespace quillmark::platform
