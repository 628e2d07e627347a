#include <windows.h>

#include <string>

#include "common/unicode.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/registry/native_hosts.h"

namespace quillmark::platform {
namespace {

// The HKEY_CURRENT_USER key each browser reads, below which the host's own
// key names its manifest.
std::wstring BrowserKey(const NativeHostPlace& place) {
  const std::string_view label = place.label;
  if (label == "Chromium") return L"Software\\Chromium\\NativeMessagingHosts\\";
  if (label == "Google Chrome") return L"Software\\Google\\Chrome\\NativeMessagingHosts\\";
  return L"Software\\Mozilla\\NativeMessagingHosts\\";
}

std::wstring Wide(std::string_view utf8) {
  std::u16string text = Utf8ToUtf16Lossy(utf8);
  return std::wstring(text.begin(), text.end());
}

}  // namespace

// One folder per browser kind below the application data folder: the
// manifests of Chromium and Google Chrome are the same file.
std::vector<NativeHostPlace> NativeHostPlaces() {
  std::string home = QuillmarkHome();
  if (home.empty()) return {};
  std::string chromium = home + "\\NativeMessagingHosts\\chromium";
  return {
      {"Chromium", NativeHostBrowser::kChromium, chromium},
      {"Google Chrome", NativeHostBrowser::kChromium, chromium},
      {"Firefox", NativeHostBrowser::kFirefox, home + "\\NativeMessagingHosts\\firefox"},
  };
}

std::string NativeHostManifestPath(const NativeHostPlace& place, std::string_view host_name) {
  return place.folder + "\\" + std::string(host_name) + ".json";
}

bool PublishNativeHost(const NativeHostPlace& place, std::string_view host_name,
                       const std::string& manifest_path) {
  const std::wstring key = BrowserKey(place) + Wide(host_name);
  const std::wstring value = Wide(manifest_path);
  LSTATUS status = ::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, REG_SZ, value.c_str(),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) {
    SetLastError(static_cast<std::uint32_t>(status));
    return false;
  }
  return true;
}

bool WithdrawNativeHost(const NativeHostPlace& place, std::string_view host_name) {
  const std::wstring key = BrowserKey(place) + Wide(host_name);
  LSTATUS status = ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    SetLastError(static_cast<std::uint32_t>(status));
    return false;
  }
  return true;
}

}  // namespace quillmark::platform
