#include "platform/os/effect_audit.h"

namespace quillmark::platform {

namespace {

thread_local EffectAudit* current_audit = nullptr;

}  // namespace

EffectAudit::EffectAudit() : outer_(current_audit) { current_audit = this; }

EffectAudit::~EffectAudit() { current_audit = outer_; }

void NoteEffect(Effect effect, std::string_view detail) {
  // Nested audits all see what happens inside the innermost.
  for (EffectAudit* audit = current_audit; audit != nullptr; audit = audit->outer_) {
    audit->effects_.push_back({effect, std::string(detail)});
  }
}

}  // namespace quillmark::platform
