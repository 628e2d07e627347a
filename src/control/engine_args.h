// What members hand the engine operations from the control's settings.
//
// Every operation that may show the certificate chooser takes its eight
// dialog texts and the notice text, in that order, as one ChooserTexts.
//
//   int status = crypto::SignMessage(..., ChooserTextsOf(settings_), &code);
#ifndef QUILLMARK_CONTROL_ENGINE_ARGS_H_
#define QUILLMARK_CONTROL_ENGINE_ARGS_H_

#include "certs/choose_cert_dlg.h"
#include "control/control_settings.h"

namespace quillmark::control {

// The chooser texts of |settings|: the eight dialog texts, then the notice.
certs::ChooserTexts ChooserTextsOf(const ControlSettings& settings);

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_ENGINE_ARGS_H_
