#include "control/engine_query.h"

#include <optional>

namespace quillmark::control {

certs::SignerQuery QueryByDn(const ControlSettings& settings, std::u16string_view dn,
                             certs::KeyRule key) {
  std::optional<std::u16string_view> sm2_store;
  if (settings.sm2_store_name.has_value()) sm2_store = *settings.sm2_store_name;
  return certs::SignerQuery{.dn = dn,
                            .separator = settings.dn_separator,
                            .server_mode = settings.server_mode != 0,
                            .key = key,
                            .sign_mode = settings.sign_mode,
                            .sm2_store = sm2_store};
}

certs::SignerQuery QueryBySerial(const ControlSettings& settings, std::u16string_view serial_list,
                                 std::u16string_view issuer_dn, certs::KeyRule key) {
  certs::SignerQuery query = QueryByDn(settings, u"", key);
  query.serial_list = serial_list;
  query.issuer_dn = issuer_dn;
  return query;
}

crypto::SignOptions SignOptionsOf(const ControlSettings& settings, bool detached) {
  return crypto::SignOptions{.detached = detached,
                             .digest_oid = settings.digest_oid,
                             .compression_threshold = settings.max_comp_size};
}

certs::ChooserTexts ChooserTextsOf(const ControlSettings& settings) {
  const DialogTexts& d = settings.dialog_texts;
  return certs::ChooserTexts{
      d[kDialogTitle],        d[kDialogPrompt],         d[kDialogSubjectColumn],
      d[kDialogIssuerColumn], d[kDialogNotAfterColumn], d[kDialogOkButton],
      d[kDialogCancelButton], d[kDialogViewButton],     settings.notice_text,
  };
}

}  // namespace quillmark::control
