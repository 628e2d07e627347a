// Text from a page made fit to be written to a terminal: whatever a page
// sends is shown, never obeyed. A page's title, prompt, rows, notice, message
// or file name could otherwise hold escape sequences that move the cursor,
// rewrite what is on the screen or reprogram the terminal, or bidirectional
// overrides that make a name read as another.
//
//   C0 controls and DEL            caret notation: ESC as "^[", BEL as "^G",
//                                  DEL as "^?"
//   C1 controls U+0080..U+009F     "\x9b"
//   bidirectional controls         "\u202e" (U+061C, U+200E, U+200F,
//   and line separators            U+202A..U+202E, U+2066..U+2069, U+2028,
//                                  U+2029)
//   unpaired surrogates            U+FFFD
//
// With |lines| set, a text may span lines: LF and the pair CR LF stay as they
// are (a lone CR, which would let the next line overwrite this one, does
// not). Everything else comes out as UTF-8.
#ifndef QUILLMARK_PLATFORM_UI_TERMINAL_TEXT_H_
#define QUILLMARK_PLATFORM_UI_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

namespace quillmark::platform::ui {

std::string TerminalVisibleText(std::u16string_view text, bool lines = false);

}  // namespace quillmark::platform::ui

#endif  // QUILLMARK_PLATFORM_UI_TERMINAL_TEXT_H_
