// The parts of RegKey that do not depend on where the registry lives: moves
// and the key's path text.
#include <string>
#include <utility>

#include "platform/registry/registry.h"

namespace quillmark::platform {

RegKey::RegKey(RegKey&& other) noexcept
    : state_(other.state_),
      file_(std::move(other.file_)),
      components_(std::move(other.components_)),
      access_(other.access_) {
  other.state_ = State::kEmpty;
  other.file_.clear();
  other.components_.clear();
  other.access_ = 0;
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    state_ = other.state_;
    file_ = std::move(other.file_);
    components_ = std::move(other.components_);
    access_ = other.access_;
    other.state_ = State::kEmpty;
    other.file_.clear();
    other.components_.clear();
    other.access_ = 0;
  }
  return *this;
}

std::u16string RegKey::path() const {
  std::u16string out;
  for (const std::u16string& c : components_) {
    if (!out.empty()) out.push_back(u'\\');
    out.append(c);
  }
  return out;
}

}  // namespace quillmark::platform
