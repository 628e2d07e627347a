// Session protocol lines for tests of the protocol: reading an answer line,
// checking its shape, random request lines, and one whole
// `quillmark session` run over a prepared standard input.
#ifndef QUILLMARK_TESTS_SUPPORT_SESSION_LINES_H_
#define QUILLMARK_TESTS_SUPPORT_SESSION_LINES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "common/json.h"
#include "support/test_dirs.h"

namespace quillmark::testing {

// |line| as a JSON object; fails the test when it is not one.
json::Value ParseAnswer(const std::string& line);

// An answer is one line holding a JSON object with either "error" or the
// call's fields ("hr" unsigned, the error state and "dialogs").
void ExpectWellFormed(const std::string& line);

// |count| lines of random bytes, plausible requests with random members and
// arguments, and requests with a few bytes flipped; none holds a line end.
std::vector<std::string> FuzzLines(std::uint32_t seed, int count);

struct CommandResult {
  int status = -1;
  std::vector<std::string> lines;
};

// Runs `quillmark session` with |input| on standard input, a home inside
// |dir| and no dialog host unless |options| names one.
CommandResult RunSessionCommand(const ScratchDir& dir, const std::string& input,
                                const std::string& options = "");

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_SESSION_LINES_H_
