// Page texts on the terminal: every control character, C1 control and
// bidirectional override is shown as text, both in the conversion itself and
// in everything the terminal host prints.
#include "platform/ui/terminal_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/ui/dialog_host.h"
#include "platform/ui/terminal_host.h"
#include "support/test_dirs.h"

namespace quillmark::platform::ui {
namespace {

TEST(TerminalText, ControlsAreShownNotObeyed) {
  struct Case {
    std::u16string text;
    bool lines;
    std::string shown;
  } cases[] = {
      {u"plain 中文 😀", false, "plain 中文 😀"},
      {u"\x1b[2J\x1b]0;title\x07", false, "^[[2J^[]0;title^G"},
      {std::u16string(u"a\0b", 3), false, "a^@b"},
      {u"\x7f\x1f\x01", false, "^?^_^A"},
      {u"tab\there", false, "tab^Ihere"},
      {u"one\ntwo\r\nthree", false, "one^Jtwo^M^Jthree"},
      {u"one\ntwo\r\nthree", true, "one\ntwo\r\nthree"},
      {u"over\rwrite", true, "over^Mwrite"},
      {u"end\r", true, "end^M"},
      {u"\u009b31m\u0085", false, "\\x9b31m\\x85"},
      {u"\u00a0\u00ff", false, "\u00a0\u00ff"},  // printable Latin-1 stays
      {u"invoice\u202egpj.exe", false, "invoice\\u202egpj.exe"},
      {u"\u202a\u202b\u202c\u202d\u2066\u2067\u2068\u2069", false,
       "\\u202a\\u202b\\u202c\\u202d\\u2066\\u2067\\u2068\\u2069"},
      {u"\u200e\u200f\u061c\u2028\u2029", true, "\\u200e\\u200f\\u061c\\u2028\\u2029"},
      {u"lone \xD800", false, "lone \uFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TerminalVisibleText(c.text, c.lines), c.shown) << c.shown;
  }
}

// The terminal host on pipes, fed hostile texts in every place a page can
// put one.
TEST(TerminalText, TheHostPrintsNoRawControlFromAPage) {
  testing::ScratchDir dir;
  int in[2], out[2];
  ASSERT_EQ(::pipe(in), 0);
  ASSERT_EQ(::pipe(out), 0);
  const std::string input = "c\n" + dir.File("missing\x1b[1m") + "\n\n" + dir.File("x") + "\n\n";
  ASSERT_EQ(::write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(in[1]);
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  {
    TerminalDialogHost host(in[0], out[1], true);
    const std::u16string evil = u"\x1b]0;pwned\x07\x1b[2J\u009b1;1H\u202e\r";
    ChooserRequest chooser;
    chooser.title = u"Title" + evil;
    chooser.prompt = u"Prompt" + evil;
    chooser.columns = {u"S" + evil, u"I" + evil, u"N" + evil};
    chooser.buttons = {u"OK" + evil, u"Cancel" + evil, u"View" + evil};
    chooser.notice = u"Notice\r\nline two" + evil;
    chooser.rows = {{u"Subject" + evil, u"Issuer" + evil, u"2030" + evil, 0}};
    EXPECT_EQ(host.ChooseCertificate(chooser).action, ChooserAnswer::Action::kCancel);
    host.OpenFile({u"Open" + evil, u"*.*" + evil});
    host.SaveFile({u"Save" + evil, u"*.cry" + evil, u"name" + evil, u""});
    host.MessageBox({u"Message" + evil + u" \nsecond line", u"Caption" + evil});
  }
  std::string printed;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(out[0], buf, sizeof buf)) > 0) printed.append(buf, static_cast<size_t>(n));
  ::close(out[0]);

  EXPECT_EQ(printed.find('\x1b'), std::string::npos) << printed;
  EXPECT_EQ(printed.find('\x07'), std::string::npos);
  EXPECT_EQ(printed.find("\xC2\x9B"), std::string::npos) << "C1 CSI in UTF-8";
  EXPECT_EQ(printed.find("\xE2\x80\xAE"), std::string::npos) << "U+202E in UTF-8";
  // A CR only as part of the notice's CR LF.
  EXPECT_EQ(printed.find('\r'), printed.find("Notice\r\n") + 6);
  EXPECT_EQ(printed.find('\r', printed.find("Notice\r\n") + 7), std::string::npos);
  for (const char* shown :
       {"Title^[]0;pwned^G^[[2J\\x9b1;1H\\u202e^M", "Subject^[", "Notice\r\nline two^[", "Open^[",
        "*.cry^[", "name^[", "Caption^[", "Message^[", "\nsecond line", "missing^[[1m"}) {
    EXPECT_NE(printed.find(shown), std::string::npos) << shown << "\n" << printed;
  }
}

}  // namespace
}  // namespace quillmark::platform::ui
