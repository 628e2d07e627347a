#include "host/control_slots.h"

#include <thread>

namespace quillmark::host {

namespace {

constexpr std::size_t kComponentLength = 200;
constexpr std::chrono::milliseconds kRetryEvery{50};

char FileNameChar(char c) {
  switch (c) {
    case '/':
      return '_';
    case ':':
      return '+';
    case '[':
      return '(';
    case ']':
      return ')';
  }
  return c;
}

}  // namespace

std::string OriginSlotFolder(const std::string& home, std::string_view origin) {
  std::string folder = home + "/hosts";
  for (std::size_t i = 0; i < origin.size(); ++i) {
    // Every component starts with '=', so none is "." or "..".
    if (i % kComponentLength == 0) folder.append("/=");
    folder.push_back(FileNameChar(origin[i]));
  }
  return folder;
}

platform::SlotStatus TakeOriginSlot(const std::string& home, std::string_view origin,
                                    platform::ProcessSlot* slot, std::string* error) {
  std::string folder = OriginSlotFolder(home, origin);
  auto give_up = std::chrono::steady_clock::now() + kSlotWait;
  for (;;) {
    platform::SlotStatus status =
        platform::ProcessSlot::Take(folder, kMaxControlsPerOrigin, slot, error);
    if (status != platform::SlotStatus::kAllBusy || std::chrono::steady_clock::now() >= give_up) {
      return status;
    }
    std::this_thread::sleep_for(kRetryEvery);
  }
}

}  // namespace quillmark::host
