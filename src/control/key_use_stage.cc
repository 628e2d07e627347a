#include "control/key_use_stage.h"

#include <algorithm>
#include <string>
#include <utility>

#include "common/status.h"
#include "common/visible_text.h"
#include "control/text_convert.h"
#include "encoding/formatted_plaintext.h"
#include "platform/ui/dialog_factory.h"

namespace quillmark::control {

namespace ui = platform::ui;

namespace {

// |bytes| decoded; false when they are not text in the code page (they do
// not convert, or do not convert back to themselves).
bool Decode(std::uint32_t code_page, ByteSpan bytes, std::u16string* text) {
  text->clear();
  if (bytes.empty()) return true;
  if (BytesToText(code_page, bytes, text) != kOk) return false;
  Bytes back;
  return ExactTextToBytes(code_page, *text, &back) == kOk &&
         std::equal(back.begin(), back.end(), bytes.begin(), bytes.end());
}

void SetText(std::u16string decoded, ui::KeyUseReview* review) {
  review->text_units = decoded.size();
  VisibleText shown = MakeVisible(decoded);
  review->text = std::move(shown.text);
  review->hidden_count += shown.hidden_count;
}

// The review of a form the control packed: its items one per line, its files
// by name and size. False when |content| does not decompose.
bool ReviewOfForm(std::uint32_t code_page, ByteSpan content, ui::KeyUseReview* review) {
  encoding::FormattedPlaintext form;
  if (content.empty() || form.Decompose(content) != kOk) return false;
  std::u16string items;
  for (std::size_t i = 0; i < form.FormItemCount(); ++i) {
    Bytes item;
    std::u16string text;
    if (form.GetFormItem(static_cast<std::int64_t>(i), &item) != kOk) return false;
    if (!Decode(code_page, item, &text)) review->not_text = true;
    if (i > 0) items.push_back(u'\n');
    items += text;
  }
  SetText(std::move(items), review);
  for (std::size_t i = 0; i < form.FileCount(); ++i) {
    Bytes name, data;
    std::u16string text;
    if (form.GetFile(static_cast<std::int64_t>(i), &name, &data) != kOk) return false;
    if (!Decode(code_page, name, &text)) review->not_text = true;
    VisibleText shown = MakeVisible(text);
    review->hidden_count += shown.hidden_count;
    review->files.push_back({std::move(shown.text), data.size()});
  }
  return true;
}

}  // namespace

ui::KeyUseReview ReviewOfContent(std::uint32_t code_page, ByteSpan content, bool packed_form) {
  ui::KeyUseReview review;
  review.action = ui::KeyUseAction::kSign;
  review.byte_count = content.size();
  if (packed_form) {
    ui::KeyUseReview form = review;
    if (ReviewOfForm(code_page, content, &form)) return form;
  }
  std::u16string text;
  review.not_text = !Decode(code_page, content, &text);
  SetText(std::move(text), &review);
  return review;
}

int StageSigning(std::uint32_t code_page, ByteSpan content, bool packed_form) {
  ui::DialogHost& host = ui::CurrentDialogHost();
  if (host.caller_origin().empty()) return kOk;
  if (content.size() > ui::kMaxReviewedBytes) return kErrTooLong;
  ui::KeyUseReview review = ReviewOfContent(code_page, content, packed_form);
  std::size_t units = review.text.size();
  for (const ui::ReviewFile& f : review.files) units += f.name.size();
  if (units > ui::kMaxReviewedTextUnits) return kErrTooLong;
  host.StageKeyUse(std::move(review), content);
  return kOk;
}

void StageDecryption() {
  ui::DialogHost& host = ui::CurrentDialogHost();
  if (host.caller_origin().empty()) return;
  ui::KeyUseReview review;
  review.action = ui::KeyUseAction::kDecrypt;
  host.StageKeyUse(std::move(review), {});
}

}  // namespace quillmark::control
