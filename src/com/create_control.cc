// The class factory's constructor hook: a new CCorvaneQuillmark.
#include <memory>
#include <new>

#include "control/quillmark_control.h"
#include "control/quillmark_interface.h"

namespace quillmark::control {

std::unique_ptr<ILydraCorvaneQuillmark> CreateQuillmarkControl() {
  try {
    return std::make_unique<CCorvaneQuillmark>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace quillmark::control
