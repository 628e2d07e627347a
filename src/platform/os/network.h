// The network adapters of the machine, as GetAdaptersInfo lists them.
//
// An adapter is a network interface with a hardware address of 6 bytes or
// more that is not a loopback interface and whose address is not all zeros
// (tunnel interfaces report such placeholder addresses). Interfaces that are
// down are listed too. The list is in interface index order.
// On Windows these are the system's own GetAdaptersInfo entries: the adapter
// name is the adapter's GUID ("{...}") and the description the driver's text.
#ifndef QUILLMARK_PLATFORM_OS_NETWORK_H_
#define QUILLMARK_PLATFORM_OS_NETWORK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace quillmark::platform {

inline constexpr std::uint32_t kErrorNotSupported = 50;  // ERROR_NOT_SUPPORTED
inline constexpr std::uint32_t kErrorNoData = 232;       // ERROR_NO_DATA

// Adapter types.
inline constexpr std::uint32_t kMibIfTypeOther = 1;
inline constexpr std::uint32_t kMibIfTypeEthernet = 6;
inline constexpr std::uint32_t kMibIfTypePpp = 23;
inline constexpr std::uint32_t kIfTypeIeee80211 = 71;

struct IpAdapterInfo {
  std::string adapter_name;  // the interface name, e.g. "eth0"
  std::string description;   // the name and, when known, its driver: "eth0 (virtio_net)"
  Bytes address;             // the hardware address, most significant byte first
  std::uint32_t index = 0;   // the interface index
  std::uint32_t type = kMibIfTypeOther;
};

// Fills |adapters| and returns kErrorSuccess; kErrorNoData when there is no
// adapter; kErrorNotSupported or kErrorNotEnoughMemory when the interfaces
// cannot be listed. On failure the error is also the thread's last error.
std::uint32_t GetAdaptersInfo(std::vector<IpAdapterInfo>* adapters);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_NETWORK_H_
