#include <cstdlib>
#include <string>

#include "platform/os/home.h"
#include "platform/registry/native_hosts.h"

namespace quillmark::platform {

std::vector<NativeHostPlace> NativeHostPlaces() {
  std::string home = UserHomeDirectory();
  if (home.empty()) return {};
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string config = xdg != nullptr && xdg[0] == '/' ? std::string(xdg) : home + "/.config";
  return {
      {"Chromium", NativeHostBrowser::kChromium, config + "/chromium/NativeMessagingHosts"},
      {"Google Chrome", NativeHostBrowser::kChromium,
       config + "/google-chrome/NativeMessagingHosts"},
      {"Firefox", NativeHostBrowser::kFirefox, home + "/.mozilla/native-messaging-hosts"},
  };
}

// The browsers read the folders themselves.
std::string NativeHostManifestPath(const NativeHostPlace& place, std::string_view host_name) {
  return place.folder + "/" + std::string(host_name) + ".json";
}

bool PublishNativeHost(const NativeHostPlace&, std::string_view, const std::string&) {
  return true;
}

bool WithdrawNativeHost(const NativeHostPlace&, std::string_view) { return true; }

}  // namespace quillmark::platform
