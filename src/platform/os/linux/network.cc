#include "platform/os/network.h"
#include "platform/os/effect_audit.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

#include "common/hex.h"
#include "platform/os/files.h"
#include "platform/os/last_error.h"

namespace quillmark::platform {

namespace {

struct IfAddrsFree {
  void operator()(struct ifaddrs* p) const noexcept { ::freeifaddrs(p); }
};

std::string SysNetPath(const std::string& name, const char* leaf) {
  return "/sys/class/net/" + name + "/" + leaf;
}

// "aa:bb:cc:..." as printed in /sys/class/net/<name>/address.
bool ParseColonHex(const std::string& text, Bytes* out) {
  out->clear();
  size_t i = 0;
  auto digit = [](char c) { return HexDigitValue(static_cast<unsigned char>(c)); };
  while (i + 1 < text.size()) {
    int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    i += 2;
    if (i < text.size() && text[i] == ':')
      ++i;
    else
      break;
  }
  return !out->empty();
}

// Addresses longer than sockaddr_ll can hold are read from sysfs.
bool LongAddress(const std::string& name, Bytes* out) {
  Bytes text;
  if (!ReadWholeFile(SysNetPath(name, "address"), &text)) return false;
  return ParseColonHex(std::string(AsChars(text)), out);
}

std::string DriverName(const std::string& name) {
  char target[512];
  ssize_t n = ::readlink(SysNetPath(name, "device/driver").c_str(), target, sizeof target - 1);
  if (n <= 0) return std::string();
  return BaseName(std::string(target, static_cast<size_t>(n)));
}

std::uint32_t AdapterType(const std::string& name, unsigned short hatype) {
  switch (hatype) {
    case ARPHRD_ETHER:
      return IsDirectory(SysNetPath(name, "wireless")) || IsDirectory(SysNetPath(name, "phy80211"))
                 ? kIfTypeIeee80211
                 : kMibIfTypeEthernet;
    case ARPHRD_IEEE80211:
      return kIfTypeIeee80211;
    case ARPHRD_PPP:
      return kMibIfTypePpp;
    default:
      return kMibIfTypeOther;
  }
}

std::uint32_t Fail(std::uint32_t error) {
  SetLastError(error);
  return error;
}

}  // namespace

std::uint32_t GetAdaptersInfo(std::vector<IpAdapterInfo>* adapters) {
  NoteEffect(Effect::kMachineInfo);
  if (adapters == nullptr) return Fail(kErrorInvalidParameter);
  try {
    struct ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
      return Fail(errno == ENOMEM ? kErrorNotEnoughMemory : kErrorNotSupported);
    }
    std::unique_ptr<struct ifaddrs, IfAddrsFree> list(raw);
    std::vector<IpAdapterInfo> found;
    for (const struct ifaddrs* ifa = list.get(); ifa != nullptr; ifa = ifa->ifa_next) {
      if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_PACKET) continue;
      if ((ifa->ifa_flags & IFF_LOOPBACK) != 0 || ifa->ifa_name == nullptr) continue;
      const auto* ll = reinterpret_cast<const struct sockaddr_ll*>(ifa->ifa_addr);
      if (ll->sll_hatype == ARPHRD_LOOPBACK || ll->sll_halen < 6) continue;
      IpAdapterInfo info;
      info.adapter_name = ifa->ifa_name;
      if (ll->sll_halen <= sizeof ll->sll_addr) {
        info.address.assign(ll->sll_addr, ll->sll_addr + ll->sll_halen);
      } else if (!LongAddress(info.adapter_name, &info.address) ||
                 info.address.size() != ll->sll_halen) {
        continue;
      }
      if (std::all_of(info.address.begin(), info.address.end(), [](auto b) { return b == 0; })) {
        continue;
      }
      info.index = static_cast<std::uint32_t>(ll->sll_ifindex);
      info.type = AdapterType(info.adapter_name, ll->sll_hatype);
      std::string driver = DriverName(info.adapter_name);
      info.description =
          driver.empty() ? info.adapter_name : info.adapter_name + " (" + driver + ")";
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
