// The control's resource strings: string 100 names the project, string 101
// is the version text that getVersion returns.
#ifndef QUILLMARK_CONTROL_RESOURCES_H_
#define QUILLMARK_CONTROL_RESOURCES_H_

namespace quillmark::control {

inline constexpr char16_t kProjectNameText[] = u"Quillmark";  // string 100
inline constexpr char16_t kVersionText[] = u"2.1.0.0";        // string 101

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_RESOURCES_H_
