// getVersion and GetMac: members that report nothing through errorNum but 0.
#include <new>

#include "common/hex.h"
#include "common/status.h"
#include "control/quillmark_control.h"
#include "control/resources.h"
#include "platform/os/last_error.h"
#include "platform/os/network.h"

namespace quillmark::control {

namespace {

// "00-1A-2B-3C-4D-5E;00-1A-2B-3C-4D-5F": each address byte as two upper-case
// hex digits, bytes joined by '-', adapters by ';'.
std::u16string FormatMacList(const std::vector<platform::IpAdapterInfo>& adapters) {
  std::u16string out;
  for (const platform::IpAdapterInfo& adapter : adapters) {
    for (std::size_t i = 0; i < adapter.address.size(); ++i) {
      AppendHexUpper(ByteSpan(adapter.address).subspan(i, 1), &out);
      out.push_back(i + 1 < adapter.address.size() ? u'-' : u';');
    }
  }
  if (!out.empty() && out.back() == u';') out.pop_back();
  return out;
}

}  // namespace

HRESULT CCorvaneQuillmark::getVersion(std::u16string* pVersion) {
  // errMsg stays as it was.
  settings_.error.error_num = kOk;
  if (pVersion == nullptr) return S_OK;
  try {
    pVersion->assign(kVersionText);
  } catch (const std::bad_alloc&) {
    pVersion->clear();
  }
  return S_OK;
}

HRESULT CCorvaneQuillmark::GetMac(std::u16string* pVal) {
  std::u16string text;
  try {
    std::vector<platform::IpAdapterInfo> adapters;
    if (platform::GetAdaptersInfo(&adapters) == platform::kErrorSuccess) {
      text = FormatMacList(adapters);
    } else {
      settings_.error.error_code = static_cast<std::int32_t>(platform::GetLastError());
    }
  } catch (const std::bad_alloc&) {
    settings_.error.error_code = static_cast<std::int32_t>(platform::kErrorNotEnoughMemory);
    text.clear();
  }
  // errorNum becomes 0 either way; errMsg stays as it was.
  settings_.error.error_num = kOk;
  if (pVal != nullptr) pVal->swap(text);
  return S_OK;
}

}  // namespace quillmark::control
