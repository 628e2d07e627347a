// Calls of the members that use a private key, with arguments that let each
// of them do its work over the demonstration PKI without a chooser: the
// signer Li Si named by DN, or by serial number and issuer, a signer of the
// fixed issuer for the members that take a serial number alone, and
// envelopes for 张三 to open. One row per member; the tests that walk the member table
// fail on a member marked as using a key that has no row here.
//
//   KeyMaterial m;
//   ASSERT_TRUE(MakeKeyMaterial(control, &m, &error)) << error;
//   for (const KeyMemberCall& c : KeyMemberCalls(m)) ...
#ifndef QUILLMARK_TESTS_SUPPORT_KEY_MEMBER_CALLS_H_
#define QUILLMARK_TESTS_SUPPORT_KEY_MEMBER_CALLS_H_

#include <string>
#include <string_view>
#include <vector>

#include "com/variant.h"
#include "control/quillmark_control.h"

namespace quillmark::testing {

// What the calls need. The names are fixed; the rest is made by a local
// caller over the demonstration PKI.
struct KeyMaterial {
  std::u16string signer_dn = u"CN=Li Si";
  std::u16string recipient_dn = u"CN=张三";
  std::u16string text = u"pay 10";  // what the signers sign and the envelopes hold
  std::u16string signer_serial;     // one hex token, as the BySN members take it
  std::u16string signer_issuer;     // as QMGetSignerCertInfo writes it
  // A signer issued under the fixed issuer DN (the BySN members name no
  // issuer), added to the MY store.
  std::u16string fixed_dn = u"CN=Fixed Issuer Signer, O=Quillmark Tests";
  std::u16string fixed_serial = u"0A1B2C";
  std::u16string envelope;  // |text| enveloped for the recipient
  std::u16string sealed;    // |text| signed by the signer, enveloped for the recipient
};

// Adds the fixed issuer's signer to the MY store of the current home and
// fills the made fields of |*m| through |qm|, which must serve a local
// caller (no caller origin); false with |*error| set. Once per home.
bool MakeKeyMaterial(control::CCorvaneQuillmark& qm, KeyMaterial* m, std::string* error);

struct KeyMemberCall {
  std::string_view name;
  std::vector<com::Variant> args;  // the in arguments, in order
  // True for the members that open an envelope: they leave |text| as the
  // control's plain text. The others sign |text|, given as an argument or,
  // where the member has none, as the outgoing plain text the caller sets
  // first.
  bool opens = false;
  // The subject DN of the certificate whose key is used.
  std::u16string key_owner;
  // Which of |args| names the signer (a DN or a serial number): given
  // empty, with server mode off, the user picks the signer instead. -1 for
  // the members that open an envelope.
  int signer_arg = -1;
};

// One row per member that uses a private key.
std::vector<KeyMemberCall> KeyMemberCalls(const KeyMaterial& m);

// The row of |name| in |calls|, or null.
const KeyMemberCall* FindKeyMemberCall(const std::vector<KeyMemberCall>& calls,
                                       std::string_view name);

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_KEY_MEMBER_CALLS_H_
