// The default folder for received files on Linux: below the user's home.
#include <string>

#include "com/registration.h"
#include "common/unicode.h"
#include "platform/os/home.h"

namespace quillmark::com {

std::u16string DefaultStubPath() {
  std::string home = platform::UserHomeDirectory();
  if (home.empty()) return {};
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home == "/") home.clear();
  std::u16string text;
  if (!Utf8ToUtf16(home, &text)) return {};
  return text + u"/quillmarkStub/";
}

}  // namespace quillmark::com
