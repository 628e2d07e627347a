// quillmark demo: the main job of the control, end to end, on a throwaway
// demonstration certificate store.
//
// A sender control signs a plain text attached in server mode with 张三's
// certificate; a receiver control verifies it, reads the content back and
// shows the signer's five field texts. Then the sender makes a digital
// envelope for 张三 and the receiver opens it with 张三's key. Last, the
// sender signs with 赵六's SM2 certificate in the SignedData the control
// builds itself. Everything runs in a temporary home folder that is removed
// at the end.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/unicode.h"
#include "control/quillmark_interface.h"
#include "demo/demo_pki.h"
#include "platform/os/files.h"
#include "platform/os/home.h"

namespace quillmark::cli {

namespace {

using control::HRESULT;
using control::ILydraCorvaneQuillmark;

constexpr char16_t kSigner[] = u"CN=张三, OU=Personal, O=Demo Bank, C=CN";
constexpr char16_t kSm2Signer[] = u"CN=赵六, OU=Personal, O=Demo Bank, C=CN";
constexpr char16_t kSm2Store[] = u"SM2";
constexpr char16_t kContent[] =
    u"转账 1000.00 元 to Demo Customer, account 6222 0000 1234 5678, reference QM-2026-12-07";
constexpr char16_t kEnvelopeContent[] =
    u"机密: quarterly statement for account 6222 0000 1234 5678";

std::string Utf8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

// Prints the member's failure from the error state and returns false.
bool Check(ILydraCorvaneQuillmark& qm, HRESULT hr, const char* member) {
  if (hr == control::S_OK) return true;
  std::int32_t num = 0, code = 0;
  std::u16string msg;
  qm.get_errorNum(&num);
  qm.get_errorCode(&code);
  qm.get_errMsg(&msg);
  std::fprintf(stderr, "quillmark demo: %s failed: hr=0x%08X errorNum=%d errorCode=0x%08X %s\n",
               member, static_cast<unsigned>(hr), num, static_cast<unsigned>(code),
               Utf8(msg).c_str());
  return false;
}

void PrintIndented(std::u16string_view text) {
  std::string s = Utf8(text);
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find('\n', start);
    if (end == std::string::npos) end = s.size();
    std::printf("    %s\n", s.substr(start, end - start).c_str());
    start = end + 1;
  }
}

bool PrintCertInfo(ILydraCorvaneQuillmark& qm, bool signer) {
  static const char* const kFields[] = {"subject", "issuer", "valid from", "valid to", "serial"};
  for (std::uint32_t type = 1; type <= 5; ++type) {
    std::u16string value;
    HRESULT hr =
        signer ? qm.QMGetSignerCertInfo(type, &value) : qm.QMGetReciptCertInfo(type, &value);
    if (!Check(qm, hr, signer ? "QMGetSignerCertInfo" : "QMGetReciptCertInfo")) return false;
    std::printf("    %-11s %s\n", kFields[type - 1], Utf8(value).c_str());
  }
  return true;
}

// Step 1: the sender signs attached in server mode; the receiver verifies,
// reads the content back and shows the signer.
bool AttachedSignRoundTrip(ILydraCorvaneQuillmark& sender, ILydraCorvaneQuillmark& receiver) {
  std::printf("\n1. Attached signature in server mode, signer %s\n", Utf8(kSigner).c_str());
  std::u16string signature, content;
  if (!Check(sender, sender.put_QMServerMode(1), "put QMServerMode") ||
      !Check(sender, sender.QMSetPlainText(kContent), "QMSetPlainText") ||
      !Check(sender, sender.QMAttachedSign(kSigner, &signature), "QMAttachedSign")) {
    return false;
  }
  std::printf("  signature (%zu characters of Base64):\n", signature.size());
  PrintIndented(signature);

  if (!Check(receiver, receiver.QMAttachedVerify(signature), "QMAttachedVerify") ||
      !Check(receiver, receiver.QMGetPlainText(&content), "QMGetPlainText")) {
    return false;
  }
  std::printf("  verified; content read back:\n    %s\n", Utf8(content).c_str());
  if (content != kContent) {
    std::fprintf(stderr, "quillmark demo: the content came back changed\n");
    return false;
  }
  std::printf("  signer:\n");
  return PrintCertInfo(receiver, true);
}

// Step 2: the sender seals an envelope for the signer; the receiver opens it
// with the recipient's key.
bool EnvelopeRoundTrip(ILydraCorvaneQuillmark& sender, ILydraCorvaneQuillmark& receiver) {
  std::printf("\n2. Digital envelope for %s\n", Utf8(kSigner).c_str());
  std::u16string envelope, opened;
  if (!Check(sender, sender.QMSetPlainText(kEnvelopeContent), "QMSetPlainText") ||
      !Check(sender, sender.QMEncryptedEnvelop(kSigner, &envelope), "QMEncryptedEnvelop")) {
    return false;
  }
  std::printf("  envelope (%zu characters of Base64):\n", envelope.size());
  PrintIndented(envelope);
  if (!Check(receiver, receiver.QMDecryptEnvelop(envelope), "QMDecryptEnvelop") ||
      !Check(receiver, receiver.QMGetPlainText(&opened), "QMGetPlainText")) {
    return false;
  }
  std::printf("  opened with the recipient's key; content:\n    %s\n", Utf8(opened).c_str());
  if (opened != kEnvelopeContent) {
    std::fprintf(stderr, "quillmark demo: the envelope content came back changed\n");
    return false;
  }
  std::printf("  recipient:\n");
  return PrintCertInfo(receiver, false);
}

// Step 3: the sender signs with the SM2 certificate in the control's own
// SignedData package.
bool Sm2AdvanceSign(ILydraCorvaneQuillmark& sender) {
  std::printf("\n3. SM2 signature (SM3 digest) in the control's own SignedData, signer %s\n",
              Utf8(kSm2Signer).c_str());
  std::u16string package;
  if (!Check(sender, sender.put_QMSignMode(2), "put QMSignMode") ||
      !Check(sender, sender.QMSetSM2CertStoreName(kSm2Store), "QMSetSM2CertStoreName") ||
      !Check(sender, sender.QMSetPlainText(kContent), "QMSetPlainText") ||
      !Check(sender, sender.QMAdvanceAttachedSign(kSm2Signer, &package), "QMAdvanceAttachedSign")) {
    return false;
  }
  std::printf("  package (%zu characters of Base64):\n", package.size());
  PrintIndented(package);
  std::printf("  signer:\n");
  return PrintCertInfo(sender, true);
}

bool RunRoundTrips() {
  std::unique_ptr<ILydraCorvaneQuillmark> sender = control::CreateQuillmarkControl();
  std::unique_ptr<ILydraCorvaneQuillmark> receiver = control::CreateQuillmarkControl();
  if (sender == nullptr || receiver == nullptr) return false;
  return AttachedSignRoundTrip(*sender, *receiver) && EnvelopeRoundTrip(*sender, *receiver) &&
         Sm2AdvanceSign(*sender);
}

}  // namespace

int RunDemo(Args args) {
  if (!args.empty()) {
    std::fprintf(stderr, "usage: quillmark demo\n");
    return 2;
  }
  std::string home;
  if (!platform::MakeTemporaryDirectory("quillmark-demo-", &home)) {
    std::fprintf(stderr, "quillmark demo: cannot create a temporary folder\n");
    return 1;
  }
  platform::SetQuillmarkHome(home);
  std::printf("Demonstration certificate store in %s\n", home.c_str());
  std::vector<::quillmark::demo::DemoItem> items;
  std::string error;
  bool ok = ::quillmark::demo::CreateDemoPki(&items, &error);
  if (!ok) {
    std::fprintf(stderr, "quillmark demo: %s\n", error.c_str());
  } else {
    for (const ::quillmark::demo::DemoItem& item : items) {
      std::printf("  %-12s %-16s %s\n", item.store.c_str(), item.role.c_str(),
                  Utf8(item.name).c_str());
    }
    ok = RunRoundTrips();
  }
  platform::SetQuillmarkHome("");
  platform::RemoveTree(home);
  if (ok) std::printf("\nAll round trips succeeded; the temporary store was removed.\n");
  return ok ? 0 : 1;
}

}  // namespace quillmark::cli
