#include "control/engine_args.h"

namespace quillmark::control {

certs::ChooserTexts ChooserTextsOf(const ControlSettings& settings) {
  const DialogTexts& d = settings.dialog_texts;
  return certs::ChooserTexts{
      d[kDialogTitle],        d[kDialogPrompt],         d[kDialogSubjectColumn],
      d[kDialogIssuerColumn], d[kDialogNotAfterColumn], d[kDialogOkButton],
      d[kDialogCancelButton], d[kDialogViewButton],     settings.notice_text,
  };
}

}  // namespace quillmark::control
