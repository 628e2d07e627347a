#include "control/control_settings.h"

#include <string_view>

namespace quillmark::control {

namespace {

// __DATE__ ("Dec  7 2026") as "2026-12-07".
std::u16string BuildDate() {
  constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  constexpr std::string_view kDate = __DATE__;
  std::size_t month = kMonths.find(kDate.substr(0, 3)) / 3 + 1;
  char16_t day_tens = kDate[4] == ' ' ? u'0' : static_cast<char16_t>(kDate[4]);
  std::u16string out;
  for (char c : kDate.substr(7, 4)) out.push_back(static_cast<char16_t>(c));
  out += u'-';
  out += static_cast<char16_t>(u'0' + month / 10);
  out += static_cast<char16_t>(u'0' + month % 10);
  out += u'-';
  out += day_tens;
  out += static_cast<char16_t>(kDate[5]);
  return out;
}

}  // namespace

DialogTexts DefaultDialogTexts() {
  return {u"请选择您要用的证书",
          u"请在列表中选择证书",
          u"主题",
          u"颁发者",
          u"截止日期",
          u"确定",
          u"取消",
          u"查看"};
}

std::u16string DefaultNoticeText() {
  return u"Quillmark signing control\r\nLydra Corvane\r\nBuilt " + BuildDate();
}

bool IsUsableStoreName(std::u16string_view name) {
  if (name.empty()) return false;
  for (char16_t c : name) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  }
  return true;
}

}  // namespace quillmark::control
