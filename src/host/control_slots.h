// How many controls one origin may have open at once for one user, across
// every browser and tab: kMaxControlsPerOrigin host processes.
//
//   platform::ProcessSlot slot;
//   SlotStatus s = TakeOriginSlot(home, "https://bank.example", &slot, &error);
//
// Each origin has a folder <home>/hosts/<name> of slot lock files
// (platform/os/process_slot.h); a host holds one for as long as it runs, so a
// host that was killed frees its slot. When every slot is held the host waits
// a moment (kSlotWait) for one that is closing before it gives up.
#ifndef QUILLMARK_HOST_CONTROL_SLOTS_H_
#define QUILLMARK_HOST_CONTROL_SLOTS_H_

#include <chrono>
#include <string>
#include <string_view>

#include "platform/os/process_slot.h"

namespace quillmark::host {

inline constexpr int kMaxControlsPerOrigin = 16;
inline constexpr std::chrono::milliseconds kSlotWait{1000};

// The folder of |origin|'s slots below |home|, one path component ("=" and
// up to 200 characters) per 200 characters of the origin, with '/' written
// '_', ':' '+', '[' '(' and ']' ')'.
// Distinct served origins (com/origin_rules.h) get distinct folders.
std::string OriginSlotFolder(const std::string& home, std::string_view origin);

platform::SlotStatus TakeOriginSlot(const std::string& home, std::string_view origin,
                                    platform::ProcessSlot* slot, std::string* error);

}  // namespace quillmark::host

#endif  // QUILLMARK_HOST_CONTROL_SLOTS_H_
