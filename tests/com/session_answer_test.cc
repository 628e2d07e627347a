// The session protocol in-process: answers formed against a recording
// stand-in of the control.
#include "com/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/json.h"
#include "platform/ui/dialog_factory.h"
#include "support/recording_control.h"
#include "support/session_lines.h"

namespace quillmark::com {

using ::quillmark::control::E_FAIL;
using ::quillmark::control::S_FALSE;
using ::quillmark::control::S_OK;
namespace {

using json::Value;
using testing::ExpectWellFormed;
using testing::FuzzLines;
using testing::ParseAnswer;
using testing::RecordingControl;

class SessionTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::ui::SetCurrentDialogHost(nullptr); }

  RecordingControl control_;
  Session session_{&control_};
};

TEST_F(SessionTest, AnswerCarriesResultErrorStateAndId) {
  control_.text_out = u"MIIC\n";
  control_.error_num = -10001;
  control_.error_code = -2146885628;
  control_.err_msg = u"源数据为空";
  EXPECT_EQ(session_.Answer(R"({"call":"QMAttachedSign","args":["CN=Alice"],"id":7})"),
            "{\"id\":7,\"hr\":0,\"result\":\"MIIC\\n\",\"errorNum\":-10001,"
            "\"errorCode\":-2146885628,\"errMsg\":\"\xE6\xBA\x90\xE6\x95\xB0\xE6\x8D\xAE"
            "\xE4\xB8\xBA\xE7\xA9\xBA\",\"dialogs\":[]}");
  ASSERT_EQ(control_.calls.size(), 4u) << "the member, then the three error-state getters";
  EXPECT_EQ(control_.calls[0].member, "QMAttachedSign");
  EXPECT_EQ(control_.calls[0].args, std::vector<std::u16string>{u"CN=Alice"});
}

TEST_F(SessionTest, NoOutValueMeansNoResult) {
  control_.error_code = -2146885628;
  EXPECT_EQ(session_.Answer(R"({"call":"QMSetPlainText","args":["hello"]})"),
            R"({"hr":0,"errorNum":0,"errorCode":-2146885628,"errMsg":"","dialogs":[]})");
}

TEST_F(SessionTest, SignedAndUnsignedOutputsKeepTheirSign) {
  Value got = ParseAnswer(session_.Answer(R"({"get":"maxcompsize"})"));
  EXPECT_EQ(got.Find(u"result")->integer(), -10001);
  got = ParseAnswer(session_.Answer(R"({"call":"IsCertExists","args":["CN=A"]})"));
  EXPECT_EQ(got.Find(u"result")->integer(), 4000000000);
}

// The id comes back as it was given, whatever its type, errors included.
TEST_F(SessionTest, IdComesBackAsGiven) {
  for (std::string id : {"\"abc\"", "-1.5", "null", "[1,{\"k\":[]}]", "{\"a\":\"\\uD800\"}"}) {
    std::string answer = session_.Answer("{\"id\":" + id + ",\"call\":\"getVersion\"}");
    EXPECT_EQ(answer.rfind("{\"id\":" + id + ",\"hr\":0,", 0), 0u) << answer;
    answer = session_.Answer("{\"call\":\"nothing\",\"id\":" + id + "}");
    EXPECT_EQ(answer.rfind("{\"id\":" + id + ",\"error\":", 0), 0u) << answer;
  }
}

TEST_F(SessionTest, AMemberStatusIsItsNumber) {
  control_.status = S_FALSE;
  EXPECT_EQ(ParseAnswer(session_.Answer(R"({"put":"DNspliter","value":"||||||||"})"))
                .Find(u"hr")
                ->integer(),
            1);
}

TEST_F(SessionTest, DispatchErrorsAreUnsignedNumbersWithoutAResult) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {R"({"call":"QMSetCodePage","args":["936 pages"]})", 0x80020005},  // DISP_E_TYPEMISMATCH
      {R"({"call":"QMSetCodePage","args":[]})", 0x8002000E},             // DISP_E_BADPARAMCOUNT
      {R"({"call":"QMSetCodePage"})", 0x8002000E},
      {R"({"put":"errMsg","value":"x"})", 0x80020003},  // DISP_E_MEMBERNOTFOUND
      {R"({"get":"QMBase64Encode"})", 0x80020003},
      {R"({"call":"MaxCompSize"})", 0x80020003},
  };
  for (const auto& [line, hr] : cases) {
    Value v = ParseAnswer(session_.Answer(line));
    ASSERT_NE(v.Find(u"hr"), nullptr) << line;
    EXPECT_EQ(v.Find(u"hr")->integer(), hr) << line;
    EXPECT_EQ(v.Find(u"result"), nullptr) << line;
  }
}

// A control whose getters fail: the error state it cannot report is null,
// and a failing member's status comes back unsigned.
TEST_F(SessionTest, AnErrorStateTheControlCannotReportIsNull) {
  control_.status = E_FAIL;
  Value v = ParseAnswer(session_.Answer(R"({"call":"QMBase64Encode","args":["x"]})"));
  EXPECT_EQ(v.Find(u"hr")->integer(), 0x80004005);
  EXPECT_EQ(v.Find(u"result"), nullptr);
  EXPECT_TRUE(v.Find(u"errorNum")->is_null()) << "a getter that cannot answer shows null";
  EXPECT_TRUE(v.Find(u"errorCode")->is_null());
  EXPECT_TRUE(v.Find(u"errMsg")->is_null());
}

TEST_F(SessionTest, MalformedLinesGetAnErrorAndTheSessionGoesOn) {
  const char* malformed[] = {
      "",
      "hello",
      "[1,2]",
      "\"call\"",
      "42",
      "null",
      "{\"call\":\"QMSetPlainText\",\"args\":[\"a\"]",  // unterminated
      "{\"call\":\"QMSetPlainText\",\"args\":[\"a\"]} trailing",
      "{}",
      "{\"id\":1}",
      "{\"call\":\"NoSuchMember\"}",
      "{\"call\":\"\"}",
      "{\"call\":12}",
      "{\"call\":\"QMSetPlainText\",\"get\":\"errorNum\"}",
      "{\"call\":\"QMSetPlainText\",\"args\":\"a\"}",
      "{\"call\":\"QMSetPlainText\",\"args\":[true]}",
      "{\"call\":\"QMSetPlainText\",\"args\":[1.5]}",
      "{\"call\":\"QMSetPlainText\",\"args\":[4294967296]}",
      "{\"call\":\"QMSetPlainText\",\"args\":[-2147483649]}",
      "{\"call\":\"QMSetPlainText\",\"args\":[[\"a\"]]}",
      "{\"call\":\"QMSetPlainText\",\"args\":[{}]}",
      "{\"call\":\"QMSetPlainText\",\"value\":\"a\"}",
      "{\"call\":\"QMSetPlainText\",\"arg\":[\"a\"]}",
      "{\"get\":\"errorNum\",\"args\":[]}",
      "{\"put\":\"MaxCompSize\"}",
      "{\"put\":\"MaxCompSize\",\"args\":[5]}",
      "{\"put\":\"MaxCompSize\",\"value\":false}",
      "{\"call\":\"QMSetPlainText\",\"call\":\"QMSetPlainText\"}",
      "{\"call\":\"QMSetPlainText\\u0000\"}",
      "{\"call\":\"QMSetPlainText\",\"args\":[\"\xFF\"]}",
  };
  for (const char* line : malformed) {
    std::string answer = session_.Answer(line);
    Value v = ParseAnswer(answer);
    ASSERT_NE(v.Find(u"error"), nullptr) << line << " -> " << answer;
    EXPECT_FALSE(v.Find(u"error")->string().empty());
    std::string ok = session_.Answer(R"({"call":"QMSetPlainText","args":["still here"]})");
    EXPECT_EQ(ParseAnswer(ok).Find(u"hr")->integer(), 0) << "after " << line;
  }
  // Only the good calls reached the control (each with its three getters).
  EXPECT_EQ(control_.calls.size(), 4 * std::size(malformed));
}

TEST_F(SessionTest, LinesBeyondTheLimitAreRefusedUnread) {
  // Padded with white space to the limit exactly: still an ordinary request.
  std::string line = R"({"get":"errorNum","id":1})";
  line.resize(kMaxRequestLine, ' ');
  Value got = ParseAnswer(session_.Answer(line));
  EXPECT_EQ(got.Find(u"id")->integer(), 1);
  EXPECT_EQ(got.Find(u"error"), nullptr);
  ASSERT_EQ(control_.calls.size(), 4u);

  // One byte more: refused before the JSON reader or the control sees it.
  line.push_back(' ');
  const std::string answer = session_.Answer(line);
  EXPECT_EQ(answer, Session::LineTooLongAnswer());
  EXPECT_EQ(answer, "{\"error\":\"request line longer than " + std::to_string(kMaxRequestLine) +
                        " bytes\"}");
  EXPECT_EQ(control_.calls.size(), 4u);
  EXPECT_GE(kMaxRequestLine, std::size_t{64} << 20);
}

TEST_F(SessionTest, AnErrorQuotesAnOddNameSafely) {
  std::string answer =
      session_.Answer("{\"call\":\"a\\nb\\\"c\\uD800" + std::string(500, 'x') + "\"}");
  EXPECT_LT(answer.size(), 200u);
  ExpectWellFormed(answer);
}

TEST_F(SessionTest, Utf16AndLoneSurrogatesSurviveARoundTrip) {
  // The stand-in's QMBase64Encode hands its argument back.
  const std::string texts[] = {
      "\"\\uD800\"",
      "\"a\\uDFFFb\\uD83D\"",
      "\"\\uDE00\\uD83D\"",
      "\"\xF0\x9F\x98\x80 \\uD83D\\uDE00 \xE4\xB8\xAD\xE6\x96\x87\"",
      "\"\\u0000\\u001f\\\"\\\\\"",
  };
  for (const std::string& text : texts) {
    Value sent;
    std::string error;
    ASSERT_TRUE(json::Parse(text, &sent, &error));
    control_.calls.clear();
    Value v = ParseAnswer(session_.Answer("{\"call\":\"QMBase64Encode\",\"args\":[" + text + "]}"));
    ASSERT_EQ(control_.calls.size(), 4u);
    EXPECT_EQ(control_.calls[0].args[0], sent.string()) << "the control got the units as sent";
    ASSERT_NE(v.Find(u"result"), nullptr);
    EXPECT_EQ(v.Find(u"result")->string(), sent.string()) << text;
  }
}

TEST_F(SessionTest, ALoneSurrogateGoesOutAsAnEscape) {
  // An escape, not bytes that are not UTF-8.
  std::string answer = session_.Answer(R"({"call":"QMBase64Encode","args":["x\ud800"]})");
  EXPECT_NE(answer.find("\"result\":\"x\\uD800\""), std::string::npos) << answer;
}

TEST_F(SessionTest, RandomLinesAlwaysGetAWellFormedAnswer) {
  for (const std::string& line : FuzzLines(99, 20000)) {
    std::string answer = session_.Answer(line);
    ExpectWellFormed(answer);
    if (HasFatalFailure()) FAIL() << "line: " << line;
  }
}

}  // namespace
}  // namespace quillmark::com
