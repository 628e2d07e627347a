// What the members hand the engine operations, built from the control's
// settings in this one place: the query for a signer or recipient (DN
// separator, server mode, sign mode and SM2 store name from the settings),
// the sign options (digest OID and compression threshold from the settings),
// and the chooser texts (the eight dialog texts, then the notice).
//
//   Status status = crypto::SignMessage(data, QueryByDn(settings_, dn, key),
//                                       SignOptionsOf(settings_, detached),
//                                       ChooserTextsOf(settings_), &text, &info);
//
// The query and the options refer to the settings' strings: they must not
// outlive a change of the settings.
#ifndef QUILLMARK_CONTROL_ENGINE_QUERY_H_
#define QUILLMARK_CONTROL_ENGINE_QUERY_H_

#include <string_view>

#include "certs/choose_cert_dlg.h"
#include "certs/signer_query.h"
#include "control/control_settings.h"
#include "crypto/sign_options.h"

namespace quillmark::control {

// The certificate named by |dn| (empty: none, the user chooses).
certs::SignerQuery QueryByDn(const ControlSettings& settings, std::u16string_view dn,
                             certs::KeyRule key = certs::KeyRule::kPrivateKey);

// The certificate named by a serial list (empty: none, the user chooses)
// and its issuer's DN.
certs::SignerQuery QueryBySerial(const ControlSettings& settings, std::u16string_view serial_list,
                                 std::u16string_view issuer_dn, certs::KeyRule key);

crypto::SignOptions SignOptionsOf(const ControlSettings& settings, bool detached);

certs::ChooserTexts ChooserTextsOf(const ControlSettings& settings);

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_ENGINE_QUERY_H_
