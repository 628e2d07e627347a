#include "platform/ui/win/review_pane.h"

#include "platform/ui/win/dialog_ids.h"
#include "platform/ui/win/window_text.h"

namespace quillmark::platform::ui::win {

namespace {

std::u16string Number(std::uint64_t n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string RequestedByLine(const std::u16string& origin) {
  return u"Requested by the page at " + origin;
}

std::u16string ActionLine(KeyUseAction action) {
  return action == KeyUseAction::kDecrypt
             ? u"The page asks to decrypt with your private key."
             : u"The page asks to sign the text below with your private key.";
}

std::u16string OwnerLines(const KeyOwner& owner) {
  if (owner.subject.empty()) return std::u16string();
  return u"Key of: " + owner.subject + u"\r\nIssued by: " + owner.issuer + u"\r\nSerial: " +
         owner.serial + u"\r\nValid until: " + owner.not_after;
}

std::u16string LengthLine(const KeyUseReview& review) {
  std::u16string line =
      Number(review.text_units) + (review.text_units == 1 ? u" character" : u" characters");
  if (review.not_text) line += u" (the content is not text: shown as bytes)";
  return line;
}

std::u16string WarningLine(const KeyUseReview& review) {
  if (review.hidden_count == 0) return std::u16string();
  return u"Warning: " + Number(review.hidden_count) +
         u" invisible or direction-changing characters are shown as marked escapes "
         u"(\u27E6U+....\u27E7). Check the text before you go on.";
}

std::u16string FilesLines(const KeyUseReview& review) {
  std::u16string lines;
  for (const ReviewFile& file : review.files) {
    if (!lines.empty()) lines += u"\r\n";
    lines += file.name + u" (" + Number(file.size) + (file.size == 1 ? u" byte)" : u" bytes)");
  }
  return lines.empty() ? lines : u"Files:\r\n" + lines;
}

std::u16string EditLines(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out.push_back(u'\r');
    out.push_back(text[i]);
  }
  return out;
}

void FillReviewPane(HWND dialog, const KeyUseReview& review) {
  ::SetDlgItemTextW(dialog, IDC_QM_LENGTH, W(LengthLine(review)));
  std::u16string warning = WarningLine(review);
  ::SetDlgItemTextW(dialog, IDC_QM_WARNING, W(warning));
  ::ShowWindow(::GetDlgItem(dialog, IDC_QM_WARNING), warning.empty() ? SW_HIDE : SW_SHOW);
  HWND text = ::GetDlgItem(dialog, IDC_QM_REVIEW_TEXT);
  // The whole text: an edit control holds 30,000 units unless told more.
  ::SendMessageW(text, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  ::SetWindowTextW(text, W(EditLines(review.text)));
  // The text starts at its top, the caret at its start, whatever the
  // control did on taking the text.
  ::SendMessageW(text, EM_SETSEL, 0, 0);
  ::SendMessageW(text, WM_VSCROLL, SB_TOP, 0);
  std::u16string files = FilesLines(review);
  ::SetDlgItemTextW(dialog, IDC_QM_FILES, W(files));
  ::ShowWindow(::GetDlgItem(dialog, IDC_QM_FILES), files.empty() ? SW_HIDE : SW_SHOW);
}

bool ReviewEndShown(HWND dialog) {
  HWND text = ::GetDlgItem(dialog, IDC_QM_REVIEW_TEXT);
  if (text == nullptr) return true;
  const LRESULT lines = ::SendMessageW(text, EM_GETLINECOUNT, 0, 0);
  const LRESULT first = ::SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0);
  RECT area = {};
  ::SendMessageW(text, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
  HDC dc = ::GetDC(text);
  if (dc == nullptr) return false;
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageW(text, WM_GETFONT, 0, 0));
  HGDIOBJ old = font != nullptr ? ::SelectObject(dc, font) : nullptr;
  TEXTMETRICW metrics = {};
  const bool measured = ::GetTextMetricsW(dc, &metrics) != FALSE && metrics.tmHeight > 0;
  if (old != nullptr) ::SelectObject(dc, old);
  ::ReleaseDC(text, dc);
  if (!measured) return false;
  // Only whole lines count as shown.
  const LONG visible = (area.bottom - area.top) / metrics.tmHeight;
  return visible > 0 && first + visible >= lines;
}

}  // namespace quillmark::platform::ui::win
