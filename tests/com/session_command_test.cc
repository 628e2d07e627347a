// The real `quillmark session` command end to end: malformed and random
// input, options, and text through the control's Base64 members.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "com/session.h"
#include "common/json.h"
#include "support/session_lines.h"
#include "support/test_dirs.h"

namespace quillmark::com {
namespace {

using json::Value;
using testing::CommandResult;
using testing::FuzzLines;
using testing::ParseAnswer;
using testing::RunSessionCommand;

TEST(SessionCommandTest, MalformedLinesDoNotEndTheSession) {
  testing::ScratchDir dir;
  const std::string input =
      "not json\n"
      "[1,2]\n"
      "\n"
      "{\"id\":5,\"call\":\"NoSuchMember\"}\n"
      "{\"call\":\"QMSetCodePage\",\"args\":[true]}\n"
      "{\"put\":\"DNspliter\"}\n"
      "{\"get\":\"errorNum\",\"id\":\"g1\"}\r\n"
      "{\"call\":\"QMSetCodePage\",\"args\":[\"abc\"],\"id\":6}\n"
      "{\"get\":\"MAXCOMPSIZE\",\"id\":[1,{\"x\":null}]}";  // no final line end
  CommandResult r = RunSessionCommand(dir, input);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.lines.size(), 9u);
  for (int i : {0, 1, 2, 4, 5}) {
    EXPECT_NE(ParseAnswer(r.lines[i]).Find(u"error"), nullptr) << r.lines[i];
    EXPECT_EQ(r.lines[i].find("\"id\""), std::string::npos);
  }
  EXPECT_EQ(r.lines[3].rfind(R"({"id":5,"error":"unknown member \"NoSuchMember\""})", 0), 0u)
      << r.lines[3];

  Value get = ParseAnswer(r.lines[6]);
  EXPECT_EQ(get.Find(u"id")->string(), u"g1");
  Value mismatch = ParseAnswer(r.lines[7]);
  EXPECT_EQ(mismatch.Find(u"id")->integer(), 6);
  EXPECT_EQ(mismatch.Find(u"hr")->integer(), 0x80020005) << "coercion fails before anything else";
  Value size = ParseAnswer(r.lines[8]);
  EXPECT_EQ(r.lines[8].rfind(R"({"id":[1,{"x":null}],"hr":)", 0), 0u) << r.lines[8];

  EXPECT_EQ(get.Find(u"hr")->integer(), 0);
  EXPECT_EQ(get.Find(u"result")->integer(), 0) << "a fresh control has no error";
  EXPECT_EQ(size.Find(u"result")->integer(), 51200);
}

TEST(SessionCommandTest, TextSurvivesBase64RoundTripThroughTheControl) {
  testing::ScratchDir dir;
  // GB18030 holds every Unicode character, supplementary planes included.
  const std::string text = "A\xC3\xA9\xE4\xB8\xAD\xE6\x96\x87 \\uD83D\\uDE00 \xF0\x9F\x93\x9C";
  CommandResult r = RunSessionCommand(dir,
                                      "{\"call\":\"QMSetCodePage\",\"args\":[54936]}\n"
                                      "{\"call\":\"QMBase64Encode\",\"args\":[\"" +
                                          text + "\"]}\n");
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.lines.size(), 2u);
  Value encoded = ParseAnswer(r.lines[1]);
  ASSERT_EQ(encoded.Find(u"hr")->integer(), 0) << r.lines[1];
  std::string base64 = json::Quote(encoded.Find(u"result")->string());
  r = RunSessionCommand(dir,
                        "{\"call\":\"QMSetCodePage\",\"args\":[\"54936\"]}\n"
                        "{\"call\":\"QMBase64Decode\",\"args\":[" +
                            base64 + "]}\n");
  ASSERT_EQ(r.lines.size(), 2u);
  Value decoded = ParseAnswer(r.lines[1]);
  ASSERT_EQ(decoded.Find(u"hr")->integer(), 0) << r.lines[1];
  Value expected;
  std::string error;
  ASSERT_TRUE(json::Parse("\"" + text + "\"", &expected, &error));
  EXPECT_EQ(decoded.Find(u"result")->string(), expected.string());
}

TEST(SessionCommandTest, RandomInputNeverCrashesTheSession) {
  testing::ScratchDir dir;
  std::mt19937 rng(4242);
  std::string input;
  // About 3 MB of raw bytes with line ends here and there, one long line...
  input.resize(3 << 20);
  for (char& c : input) c = static_cast<char>(rng());
  input.append(1 << 20, '[');
  input.push_back('\n');
  // ... and requests that reach the control with odd arguments.
  for (const std::string& line : FuzzLines(17, 6000)) input += line + "\n";
  CommandResult r = RunSessionCommand(dir, input);
  ASSERT_EQ(r.status, 0);
  std::size_t expected = 0;
  for (char c : input) expected += c == '\n';
  EXPECT_EQ(r.lines.size(), expected);
  std::size_t well_formed = 0;
  for (const std::string& line : r.lines) {
    Value v;
    std::string error;
    well_formed += json::Parse(line, &v, &error) && v.is_object() &&
                   (v.Find(u"error") != nullptr || v.Find(u"hr") != nullptr);
  }
  EXPECT_EQ(well_formed, r.lines.size());
}

TEST(SessionCommandTest, OverlongLinesAreAnsweredAndSkipped) {
  testing::ScratchDir dir;
  std::string input;
  input.reserve(3 * com::kMaxRequestLine + 256);
  // A request padded with white space to |length| bytes.
  auto add_padded = [&input](const std::string& request, std::size_t length) {
    input += request;
    input.append(length - request.size(), ' ');
  };
  add_padded(R"({"get":"errorNum","id":1})", com::kMaxRequestLine);
  input += '\n';
  add_padded(R"({"get":"errorNum","id":2})", com::kMaxRequestLine + 1);
  input += '\n';
  input += "{\"call\":\"QMBase64Encode\",\"args\":[\"abc\"],\"id\":3}\n";
  add_padded(R"({"get":"errorNum","id":4})", com::kMaxRequestLine + 7);  // no line end
  CommandResult r = RunSessionCommand(dir, input);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_EQ(ParseAnswer(r.lines[0]).Find(u"id")->integer(), 1);
  EXPECT_EQ(ParseAnswer(r.lines[0]).Find(u"error"), nullptr);
  for (int i : {1, 3}) EXPECT_EQ(r.lines[i], com::Session::LineTooLongAnswer()) << i;
  Value encoded = ParseAnswer(r.lines[2]);
  EXPECT_EQ(encoded.Find(u"id")->integer(), 3);
  EXPECT_EQ(encoded.Find(u"result")->string(), u"YWJj\n");
}

TEST(SessionCommandTest, BadOptionsExitWithStatusTwo) {
  testing::ScratchDir dir;
  const std::string options[] = {
      "--bogus",
      "--ui 'script:" + dir.File("missing") + "'",
      "--ui nonsense",
  };
  for (const std::string& option : options) {
    std::string out;
    EXPECT_EQ(testing::RunShellCapture(QM_CLI_PATH " session " + option + " </dev/null 2>/dev/null",
                                       &out),
              2)
        << option;
  }
}

TEST(SessionCommandTest, EmptyInputIsACompleteSession) {
  testing::ScratchDir dir;
  EXPECT_EQ(RunSessionCommand(dir, "", "--ui none").status, 0);
}

}  // namespace
}  // namespace quillmark::com
