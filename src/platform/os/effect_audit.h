// A record, per thread, of what the platform layer did on the caller's
// behalf that reaches beyond the process: a private key used, a file read or
// written, the machine's adapters listed. The entry points of both backends
// note each such act (NoteEffect); an EffectAudit in scope collects what its
// thread noted while it lives, so a test can call one member and see what it
// reached:
//
//   platform::EffectAudit audit;
//   control.QMAttachedSign(dn, &out);
//   for (const platform::NotedEffect& e : audit.effects()) ...
//
// Without an audit in scope a note costs one thread-local load.
#ifndef QUILLMARK_PLATFORM_OS_EFFECT_AUDIT_H_
#define QUILLMARK_PLATFORM_OS_EFFECT_AUDIT_H_

#include <string>
#include <string_view>
#include <vector>

namespace quillmark::platform {

enum class Effect { kKeyUse, kFileRead, kFileWrite, kMachineInfo };

struct NotedEffect {
  Effect effect;
  std::string detail;  // the file's path; empty for the other effects
};

void NoteEffect(Effect effect, std::string_view detail = {});

class EffectAudit {
 public:
  EffectAudit();
  ~EffectAudit();
  EffectAudit(const EffectAudit&) = delete;
  EffectAudit& operator=(const EffectAudit&) = delete;

  const std::vector<NotedEffect>& effects() const { return effects_; }
  void Clear() { effects_.clear(); }

 private:
  friend void NoteEffect(Effect effect, std::string_view detail);
  EffectAudit* outer_;
  std::vector<NotedEffect> effects_;
};

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_OS_EFFECT_AUDIT_H_
