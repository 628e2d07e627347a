#include "com/web_session.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "com/type_library.h"
#include "control/quillmark_control.h"
#include "control/text_convert.h"
#include "encoding/formatted_plaintext.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::com {

namespace {

using platform::ui::KeyUseSubject;

std::u16string Shortened(std::u16string_view text) {
  if (text.size() <= kMaxShownTextUnits) return std::u16string(text);
  std::size_t cut = kMaxShownTextUnits;
  // Do not split a surrogate pair.
  if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
  return std::u16string(text.substr(0, cut)) + u"\u2026";
}

// Members that may use a private key: the signing members, the signed
// envelope and the envelope openers.
bool MayUseKey(std::string_view name) {
  if (name.find("Verify") != std::string_view::npos) return false;
  return name.find("Sign") != std::string_view::npos ||
         name.find("Decrypt") != std::string_view::npos;
}

// |bytes| in the control's code page as text; a marker when they do not convert.
std::u16string BytesAsText(std::uint32_t code_page, ByteSpan bytes) {
  std::u16string text;
  if (bytes.empty()) return text;
  if (control::BytesToText(code_page, bytes, &text) != kOk) return u"(data that is not text)";
  return text;
}

// The outgoing plain text as the confirmation shows it: the form items and
// the file names of a form, else the text.
// Only the shown part of a plain text is converted.
void DescribeOutgoing(const control::ControlSettings& settings, KeyUseSubject* subject) {
  if (!settings.outgoing_plain_text.has_value()) return;
  const Bytes& bytes = *settings.outgoing_plain_text;
  encoding::FormattedPlaintext form;
  if (!bytes.empty() && form.Decompose(bytes) == kOk &&
      form.FormItemCount() + form.FileCount() > 0) {
    std::u16string items;
    for (std::size_t i = 0; i < form.FormItemCount() && items.size() < kMaxShownTextUnits; ++i) {
      Bytes item;
      if (form.GetFormItem(static_cast<std::int64_t>(i), &item) != kOk) continue;
      if (!items.empty()) items += u"\n";
      items += BytesAsText(settings.code_page, item);
    }
    subject->text = Shortened(items);
    for (std::size_t i = 0; i < form.FileCount() && i < kMaxShownFiles; ++i) {
      Bytes name, content;
      if (form.GetFile(static_cast<std::int64_t>(i), &name, &content) != kOk) continue;
      subject->files.push_back(Shortened(BytesAsText(settings.code_page, name)));
    }
    if (form.FileCount() > kMaxShownFiles) subject->files.push_back(u"\u2026");
    return;
  }
  ByteSpan shown = ByteSpan(bytes).first(std::min(bytes.size(), 4 * kMaxShownTextUnits));
  subject->text = Shortened(BytesAsText(settings.code_page, shown));
}

}  // namespace

KeyUseSubject KeyUseSubjectOf(ILydraCorvaneQuillmark* control, std::int32_t dispid, MemberKind kind,
                              std::span<const Variant> args) {
  KeyUseSubject subject;
  const MemberInfo* member = FindMember(dispid, kind);
  if (member == nullptr || kind != MemberKind::kMethod) return subject;
  std::string_view name = member->name;
  if (!MayUseKey(name)) return subject;
  if (name.find("Decrypt") != std::string_view::npos) {
    subject.action = u"decrypt";
    return subject;
  }
  subject.action = u"sign";
  std::span<const ParamInfo> params = member->params();
  for (std::size_t i = 0; i < params.size() && i < args.size(); ++i) {
    if (params[i].name == "plainText") {
      if (args[i].type() == Variant::Type::kString) subject.text = Shortened(args[i].string());
      return subject;
    }
  }
  if (auto* quillmark = dynamic_cast<control::CCorvaneQuillmark*>(control)) {
    DescribeOutgoing(quillmark->settings(), &subject);
  }
  return subject;
}

WebSession::WebSession(ILydraCorvaneQuillmark* control, std::u16string origin)
    : control_(control),
      session_(control,
               SessionOptions{
                   .dialog_outcomes_only = true,
                   .before_call =
                       [this](std::int32_t dispid, MemberKind kind, std::span<const Variant> args) {
                         platform::ui::CurrentDialogHost().BeginCall(
                             KeyUseSubjectOf(control_, dispid, kind, args));
                       },
               }) {
  platform::ui::CurrentDialogHost().SetCallerOrigin(std::move(origin));
}

WebSession::~WebSession() { platform::ui::CurrentDialogHost().SetCallerOrigin(u""); }

}  // namespace quillmark::com
