// Where the browsers of the current user look for native messaging hosts.
//
// Each place is a folder for the host's manifest file. On Linux the browser
// reads that folder itself. On Windows it reads a registry key under
// HKEY_CURRENT_USER whose default value is the manifest's path, so a written
// manifest must also be published there.
#ifndef QUILLMARK_PLATFORM_REGISTRY_NATIVE_HOSTS_H_
#define QUILLMARK_PLATFORM_REGISTRY_NATIVE_HOSTS_H_

#include <string>
#include <string_view>
#include <vector>

namespace quillmark::platform {

enum class NativeHostBrowser { kChromium, kFirefox };

struct NativeHostPlace {
  const char* label;  // "Chromium", "Google Chrome", "Firefox"
  NativeHostBrowser browser;
  std::string folder;  // where the manifest file goes
};

// The places, or none when the user has no home (application data) folder.
std::vector<NativeHostPlace> NativeHostPlaces();

// The manifest file of |host_name| in the place's folder.
std::string NativeHostManifestPath(const NativeHostPlace& place, std::string_view host_name);

// Tells the place's browser where the manifest of |host_name| is, once the
// file is written (Windows: the registry key; elsewhere there is nothing to
// do). False with the last error set when the registry cannot be written.
bool PublishNativeHost(const NativeHostPlace& place, std::string_view host_name,
                       const std::string& manifest_path);

// Undoes PublishNativeHost; a key already missing is not an error.
bool WithdrawNativeHost(const NativeHostPlace& place, std::string_view host_name);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_REGISTRY_NATIVE_HOSTS_H_
