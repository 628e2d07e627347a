#include "com/web_session.h"

#include <utility>

#include "platform/ui/dialog_factory.h"

namespace quillmark::com {

WebSession::WebSession(ILydraCorvaneQuillmark* control, std::u16string origin)
    : session_(control, SessionOptions{
                            .dialog_outcomes_only = true,
                            .before_call =
                                [](std::int32_t, MemberKind, std::span<const Variant>) {
                                  platform::ui::CurrentDialogHost().BeginCall();
                                },
                        }) {
  platform::ui::CurrentDialogHost().SetCallerOrigin(std::move(origin));
}

WebSession::~WebSession() { platform::ui::CurrentDialogHost().SetCallerOrigin(u""); }

}  // namespace quillmark::com
