// The session protocol: answers formed in-process against a recording
// stand-in of the control, and the real `quillmark session` and
// `quillmark typelib` commands end to end.
#include "com/session.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "com/type_library.h"
#include "common/json.h"
#include "control/recording_control.h"
#include "platform/ui/dialog_factory.h"
#include "support/test_dirs.h"

namespace quillmark::com {

using ::quillmark::control::DISP_E_BADPARAMCOUNT;
using ::quillmark::control::DISP_E_MEMBERNOTFOUND;
using ::quillmark::control::DISP_E_TYPEMISMATCH;
using ::quillmark::control::E_NOTIMPL;
using ::quillmark::control::HRESULT;
using ::quillmark::control::S_FALSE;
using ::quillmark::control::S_OK;
namespace {

using json::Value;
using testing::RecordingControl;

bool AllBuilt(const MemberInfo&) { return true; }

Value ParseAnswer(const std::string& line) {
  Value v;
  std::string error;
  EXPECT_TRUE(json::Parse(line, &v, &error)) << line << ": " << error;
  EXPECT_TRUE(v.is_object()) << line;
  return v;
}

// An answer is a JSON object with either "error" or the call's fields.
void ExpectWellFormed(const std::string& line) {
  ASSERT_EQ(line.find('\n'), std::string::npos);
  Value v = ParseAnswer(line);
  if (const Value* error = v.Find(u"error")) {
    EXPECT_TRUE(error->is_string()) << line;
    EXPECT_EQ(v.Find(u"hr"), nullptr) << line;
    return;
  }
  ASSERT_NE(v.Find(u"hr"), nullptr) << line;
  EXPECT_TRUE(v.Find(u"hr")->is_int()) << line;
  EXPECT_GE(v.Find(u"hr")->integer(), 0) << "HRESULTs are written unsigned: " << line;
  for (const char16_t* key : {u"errorNum", u"errorCode", u"errMsg", u"dialogs"}) {
    EXPECT_NE(v.Find(key), nullptr) << line;
  }
  EXPECT_TRUE(v.Find(u"dialogs")->is_array()) << line;
}

class SessionTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::ui::SetCurrentDialogHost(nullptr); }

  RecordingControl control_;
  Session session_{&control_, AllBuilt};
};

TEST_F(SessionTest, AnswersCarryResultErrorStateAndId) {
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

  // No out value: no "result". Signed and unsigned outputs keep their sign.
  control_.error_num = 0;
  control_.err_msg.clear();
  EXPECT_EQ(session_.Answer(R"({"call":"QMSetPlainText","args":["hello"]})"),
            R"({"hr":0,"errorNum":0,"errorCode":-2146885628,"errMsg":"","dialogs":[]})");
  Value got = ParseAnswer(session_.Answer(R"({"get":"maxcompsize"})"));
  EXPECT_EQ(got.Find(u"result")->integer(), -10001);
  got = ParseAnswer(session_.Answer(R"({"call":"IsCertExists","args":["CN=A"]})"));
  EXPECT_EQ(got.Find(u"result")->integer(), 4000000000);

  // The id comes back as it was given, whatever its type, errors included.
  for (std::string id : {"\"abc\"", "-1.5", "null", "[1,{\"k\":[]}]", "{\"a\":\"\\uD800\"}"}) {
    std::string answer = session_.Answer("{\"id\":" + id + ",\"call\":\"getVersion\"}");
    EXPECT_EQ(answer.rfind("{\"id\":" + id + ",\"hr\":0,", 0), 0u) << answer;
    answer = session_.Answer("{\"call\":\"nothing\",\"id\":" + id + "}");
    EXPECT_EQ(answer.rfind("{\"id\":" + id + ",\"error\":", 0), 0u) << answer;
  }
}

TEST_F(SessionTest, MemberAndDispatchStatusesAreUnsignedNumbers) {
  control_.status = S_FALSE;
  EXPECT_EQ(ParseAnswer(session_.Answer(R"({"put":"DNspliter","value":"||||||||"})"))
                .Find(u"hr")
                ->integer(),
            1);
  control_.status = S_OK;
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

  // An unbuilt member is E_NOTIMPL, 2147500033, and is never called.
  RecordingControl bare;
  Session nothing_built(&bare, [](const MemberInfo&) { return false; });
  Value v = ParseAnswer(nothing_built.Answer(R"({"call":"QMBase64Encode","args":["x"]})"));
  EXPECT_EQ(v.Find(u"hr")->integer(), 2147500033);
  EXPECT_TRUE(v.Find(u"errorNum")->is_null()) << "a getter that cannot answer shows null";
  EXPECT_TRUE(v.Find(u"errMsg")->is_null());
  EXPECT_TRUE(bare.calls.empty());
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
  // An error message quotes an odd name safely.
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
  // A lone surrogate goes out as an escape, not as bytes that are not UTF-8.
  std::string answer = session_.Answer(R"({"call":"QMBase64Encode","args":["x\ud800"]})");
  EXPECT_NE(answer.find("\"result\":\"x\\uD800\""), std::string::npos) << answer;
}

// A control whose members show dialogs, to see how the answer reports them.
class DialogShowingControl : public RecordingControl {
 public:
  HRESULT QMAttachedSign(std::u16string_view, std::u16string* pVal) override {
    platform::ui::ChooserRequest request;
    request.title = u"请选择您要用的证书";
    request.prompt = u"Pick one";
    request.columns = {u"Subject", u"Issuer", u"Until"};
    request.buttons = {u"OK", u"Cancel", u"View"};
    request.notice = u"Quillmark\r\n";
    request.rows = {{u"CN=Alice", u"CN=CA", u"2031-01-01", 0},
                    {u"CN=Bob", u"CN=CA", u"2032-01-01", 1}};
    request.display_order = {1, 0};
    platform::ui::ChooserAnswer a = platform::ui::CurrentDialogHost().ChooseCertificate(request);
    *pVal = a.action == platform::ui::ChooserAnswer::Action::kChoose ? u"chosen" : u"";
    return S_OK;
  }
  HRESULT QMAddFile(std::u16string_view) override {
    platform::ui::CurrentDialogHost().OpenFile({u"Open", u"*.*"});
    platform::ui::CurrentDialogHost().MessageBox({u"No certificate selected.", u"Quillmark"});
    return S_OK;
  }
  HRESULT QMGetFile(std::u16string* pVal) override {
    pVal->clear();
    platform::ui::CurrentDialogHost().SaveFile({u"Save", u"*.*", u"report.pdf", u""});
    return S_FALSE;
  }
};

TEST(SessionDialogsTest, EachCallReportsTheDialogsItShowed) {
  testing::ScratchDir dir;
  {
    std::ofstream script(dir.File("answers.txt"));
    script << "choose 1\nopen /tmp/x\nok\ncancel\n";
  }
  std::unique_ptr<platform::ui::DialogHost> host;
  std::string error;
  ASSERT_TRUE(platform::ui::CreateDialogHost("script:" + dir.File("answers.txt"), &host, &error))
      << error;
  platform::ui::SetCurrentDialogHost(std::move(host));
  DialogShowingControl control;
  Session session(&control, AllBuilt);

  EXPECT_EQ(session.Answer(R"({"call":"QMAttachedSign","args":["CN="]})"),
            "{\"hr\":0,\"result\":\"chosen\",\"errorNum\":0,\"errorCode\":0,\"errMsg\":\"\","
            "\"dialogs\":[{\"kind\":\"chooser\",\"title\":\"\xE8\xAF\xB7\xE9\x80\x89\xE6\x8B\xA9"
            "\xE6\x82\xA8\xE8\xA6\x81\xE7\x94\xA8\xE7\x9A\x84\xE8\xAF\x81\xE4\xB9\xA6\","
            "\"prompt\":\"Pick one\",\"columns\":[\"Subject\",\"Issuer\",\"Until\"],"
            "\"buttons\":[\"OK\",\"Cancel\",\"View\"],\"notice\":\"Quillmark\\r\\n\","
            "\"rows\":[{\"subject\":\"CN=Alice\",\"issuer\":\"CN=CA\",\"notAfter\":\"2031-01-01\"},"
            "{\"subject\":\"CN=Bob\",\"issuer\":\"CN=CA\",\"notAfter\":\"2032-01-01\"}],"
            "\"answer\":\"choose 1\"}]}");
  EXPECT_EQ(session.Answer(R"({"call":"QMAddFile","args":["x"]})"),
            "{\"hr\":0,\"errorNum\":0,\"errorCode\":0,\"errMsg\":\"\",\"dialogs\":["
            "{\"kind\":\"open\",\"title\":\"Open\",\"filter\":\"*.*\",\"answer\":\"open /tmp/x\"},"
            "{\"kind\":\"message\",\"text\":\"No certificate selected.\",\"caption\":\"Quillmark\","
            "\"answer\":\"ok\"}]}");
  EXPECT_EQ(
      session.Answer(R"({"call":"QMGetFile"})"),
      "{\"hr\":1,\"result\":\"\",\"errorNum\":0,\"errorCode\":0,\"errMsg\":\"\",\"dialogs\":["
      "{\"kind\":\"save\",\"title\":\"Save\",\"filter\":\"*.*\",\"defaultName\":\"report.pdf\","
      "\"defaultExt\":\"\",\"answer\":\"cancel\"}]}");
  // Reports belong to the call that showed them: the next call has none.
  EXPECT_NE(session.Answer(R"({"call":"QMSetPlainText","args":["x"]})").find("\"dialogs\":[]"),
            std::string::npos);
  platform::ui::SetCurrentDialogHost(nullptr);
}

// Lines of random bytes, and requests with random members and arguments.
std::vector<std::string> FuzzLines(std::uint32_t seed, int count) {
  std::mt19937 rng(seed);
  std::vector<std::string> lines;
  auto members = TypeLibraryMembers();
  const char* pieces[] = {"null",  "1",    "-1", "4294967295", "2147483648",  "\"\"", "\"5\"",
                          "\"x\"", "true", "[]", "{}",         "\"\\uD800\"", "1.25", "\"CN=A|B\""};
  const char* verbs[] = {"call", "get", "put"};
  for (int i = 0; i < count; ++i) {
    std::string line;
    switch (rng() % 3) {
      case 0:  // raw bytes
        line.resize(rng() % 200);
        for (char& c : line) {
          c = static_cast<char>(rng());
          if (c == '\n') c = ' ';
        }
        break;
      case 1: {  // a plausible request
        const MemberInfo& m = members[rng() % members.size()];
        line = "{\"" + std::string(verbs[rng() % 3]) + "\":\"" + std::string(m.name) + "\"";
        if (rng() % 2) {
          line += ",\"args\":[";
          for (std::uint32_t k = 0, n = rng() % 4; k < n; ++k) {
            line += (k ? "," : "") + std::string(pieces[rng() % std::size(pieces)]);
          }
          line += "]";
        }
        if (rng() % 3 == 0) line += ",\"value\":" + std::string(pieces[rng() % std::size(pieces)]);
        if (rng() % 3 == 0) line += ",\"id\":" + std::to_string(i);
        line += "}";
        break;
      }
      default: {  // a request with a few bytes flipped
        line = R"({"call":"QMSetPlainText","args":["abc",1,null],"id":[1,2]})";
        for (std::uint32_t k = 0, n = 1 + rng() % 4; k < n; ++k) {
          char c = static_cast<char>(rng());
          line[rng() % line.size()] = c == '\n' ? '\t' : c;
        }
        break;
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

TEST_F(SessionTest, RandomLinesAlwaysGetAWellFormedAnswer) {
  for (const std::string& line : FuzzLines(99, 20000)) {
    std::string answer = session_.Answer(line);
    ExpectWellFormed(answer);
    if (HasFatalFailure()) FAIL() << "line: " << line;
  }
}

// ---- The real commands -------------------------------------------------

struct CommandResult {
  int status = -1;
  std::vector<std::string> lines;
};

// Runs `quillmark session` with |input| on standard input and a scratch home.
CommandResult RunSession(const testing::ScratchDir& dir, const std::string& input,
                         const std::string& options = "") {
  {
    std::ofstream in(dir.File("in.txt"), std::ios::binary);
    in << input;
  }
  CommandResult r;
  std::string out;
  r.status = testing::RunShellCapture(
      "HOME='" + dir.path() + "' QUILLMARK_UI=none " QM_CLI_PATH " session --home '" +
          dir.File("home") + "' " + options + " <'" + dir.File("in.txt") + "'",
      &out);
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) r.lines.push_back(line);
  return r;
}

bool Built(std::string_view spelling) {
  for (const MemberInfo& m : TypeLibraryMembers()) {
    if (BuiltListSpelling(m) == spelling) return IsMemberBuilt(m);
  }
  return false;
}

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
  CommandResult r = RunSession(dir, input);
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

  // What the answers say depends on what is built; never a pretended success.
  if (Built("get errorNum")) {
    EXPECT_EQ(get.Find(u"hr")->integer(), 0);
    EXPECT_EQ(get.Find(u"result")->integer(), 0) << "a fresh control has no error";
  } else {
    EXPECT_EQ(get.Find(u"hr")->integer(), 0x80004001);
    EXPECT_EQ(get.Find(u"result"), nullptr);
    EXPECT_TRUE(get.Find(u"errorNum")->is_null());
  }
  if (Built("get MaxCompSize")) {
    EXPECT_EQ(size.Find(u"result")->integer(), 51200);
  } else {
    EXPECT_EQ(size.Find(u"hr")->integer(), 0x80004001);
  }
}

TEST(SessionCommandTest, TextSurvivesBase64RoundTripThroughTheControl) {
  if (!Built("QMBase64Encode") || !Built("QMBase64Decode") || !Built("QMSetCodePage")) {
    GTEST_SKIP() << "the control's Base64 members are not built yet";
  }
  testing::ScratchDir dir;
  // GB18030 holds every Unicode character, supplementary planes included.
  const std::string text = "A\xC3\xA9\xE4\xB8\xAD\xE6\x96\x87 \\uD83D\\uDE00 \xF0\x9F\x93\x9C";
  CommandResult r = RunSession(dir,
                               "{\"call\":\"QMSetCodePage\",\"args\":[54936]}\n"
                               "{\"call\":\"QMBase64Encode\",\"args\":[\"" +
                                   text + "\"]}\n");
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.lines.size(), 2u);
  Value encoded = ParseAnswer(r.lines[1]);
  ASSERT_EQ(encoded.Find(u"hr")->integer(), 0) << r.lines[1];
  std::string base64 = json::Quote(encoded.Find(u"result")->string());
  r = RunSession(dir,
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
  CommandResult r = RunSession(dir, input);
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

TEST(SessionCommandTest, OptionsAreChecked) {
  testing::ScratchDir dir;
  std::string out;
  EXPECT_EQ(testing::RunShellCapture(QM_CLI_PATH " session --bogus </dev/null 2>/dev/null", &out),
            2);
  EXPECT_EQ(testing::RunShellCapture(QM_CLI_PATH " session --ui 'script:" + dir.File("missing") +
                                         "' </dev/null 2>/dev/null",
                                     &out),
            2);
  EXPECT_EQ(
      testing::RunShellCapture(QM_CLI_PATH " session --ui nonsense </dev/null 2>/dev/null", &out),
      2);
  EXPECT_EQ(RunSession(dir, "", "--ui none").status, 0) << "empty input is a complete session";
}

// The member list of `quillmark typelib --json`, against the names and
// DISPIDs pages use.
TEST(TypelibCommandTest, JsonListsTheMembersInInterfaceOrder) {
  std::string out;
  ASSERT_EQ(testing::RunShellCapture(QM_CLI_PATH " typelib --json", &out), 0);
  Value doc = ParseAnswer(out.substr(0, out.find('\n')));
  ASSERT_NE(doc.Find(u"members"), nullptr);
  const std::vector<Value>& members = doc.Find(u"members")->array();
  ASSERT_EQ(members.size(), 62u);

  struct Expected {
    int dispid;
    const char16_t* name;
    const char16_t* kind;
  };
  const Expected expected[] = {
      {0x1, u"DNspliter", u"propput"},
      {0x2, u"errMsg", u"propget"},
      {0x3, u"errorNum", u"propget"},
      {0x4, u"MaxCompSize", u"propget"},
      {0x4, u"MaxCompSize", u"propput"},
      {0x6, u"QMServerMode", u"propput"},
      {0x7, u"getVersion", u"method"},
      {0x8, u"QMAddFile", u"method"},
      {0x9, u"QMAddFormItem", u"method"},
      {0xa, u"QMAttachedSign", u"method"},
      {0xb, u"QMAttachedVerify", u"method"},
      {0xc, u"QMBase64Decode", u"method"},
      {0xd, u"QMBase64Encode", u"method"},
      {0xe, u"QMDecryptedAndVerifiedEnvelop", u"method"},
      {0xf, u"QMDecryptEnvelop", u"method"},
      {0x10, u"QMDetachedSign", u"method"},
      {0x11, u"QMDetachedVerify", u"method"},
      {0x12, u"QMEncryptedEnvelop", u"method"},
      {0x13, u"QMGetFile", u"method"},
      {0x14, u"QMGetFormItem", u"method"},
      {0x15, u"QMGetPlainText", u"method"},
      {0x16, u"QMGetReciptCertInfo", u"method"},
      {0x17, u"QMGetSignerCertInfo", u"method"},
      {0x18, u"QMHashAndBase64Encode", u"method"},
      {0x19, u"QMRawSign", u"method"},
      {0x1a, u"QMRawVerify", u"method"},
      {0x1b, u"QMSetPlainText", u"method"},
      {0x1c, u"QMSignedAndEncryptedEnvelop", u"method"},
      {0x1d, u"QMAfterwardsVerify", u"method"},
      {0x1e, u"QMGetCertExtension", u"method"},
      {0x1f, u"QMSetDigestArithmetic", u"method"},
      {0x20, u"QMSetSymmetryArithmetic", u"method"},
      {0x21, u"IsCertExists", u"method"},
      {0x22, u"QMAttachedSignByIssuerSN", u"method"},
      {0x23, u"QMAttachedSignBySN", u"method"},
      {0x24, u"QMDetachedSignByIssuerSN", u"method"},
      {0x25, u"QMDetachedSignBySN", u"method"},
      {0x26, u"QMEnumCertsDNByIssers", u"method"},
      {0x27, u"errorCode", u"propget"},
      {0x28, u"QMAttachedVerifySignedFile", u"method"},
      {0x29, u"QMUseKeySpecAttachedSign", u"method"},
      {0x2a, u"QMUseKeySpecDetachedSign", u"method"},
      {0x2b, u"QMUseKeySpecRawSign", u"method"},
      {0x2c, u"QMUseKeySpecAttachedSignByIssuerSN", u"method"},
      {0x2d, u"QMUseKeySpecAttachedSignBySN", u"method"},
      {0x2e, u"QMUseKeySpecDetachedSignByIssuerSN", u"method"},
      {0x2f, u"QMUseKeySpecDetachedSignBySN", u"method"},
      {0x30, u"QMUseKeySpecSignedAndEncryptedEnvelop", u"method"},
      {0x31, u"QMSetCodePage", u"method"},
      {0x32, u"QMAddFileForEncrypt", u"method"},
      {0x33, u"QMEncryptFileAndSave", u"method"},
      {0x34, u"QMSetCopyRightInfo", u"method"},
      {0x35, u"QMSetDialogPrompt", u"method"},
      {0x36, u"QMAdvanceAttachedSign", u"method"},
      {0x37, u"QMAdvanceAttachedVerify", u"method"},
      {0x38, u"QMUseSpecAdvanceAttachedSign", u"method"},
      {0x39, u"QMAdvanceDetachedSign", u"method"},
      {0x3a, u"QMUseSpecAdvanceDetachedSign", u"method"},
      {0x3b, u"QMAdvanceDetachedVerify", u"method"},
      {0x3c, u"QMSignMode", u"propput"},
      {0x3d, u"QMSetSM2CertStoreName", u"method"},
      {0x3e, u"GetMac", u"method"},
  };
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Value& m = members[i];
    EXPECT_EQ(m.Find(u"dispid")->integer(), expected[i].dispid) << i;
    EXPECT_EQ(m.Find(u"name")->string(), expected[i].name) << i;
    EXPECT_EQ(m.Find(u"kind")->string(), expected[i].kind) << i;
    EXPECT_TRUE(m.Find(u"built")->is_bool());
    EXPECT_EQ(m.Find(u"built")->boolean(), IsMemberBuilt(TypeLibraryMembers()[i]));
    EXPECT_FALSE(m.Find(u"doc")->string().empty());
  }
  // Parameters, by example.
  const Value& sign = members[9];
  EXPECT_EQ(out.find(R"({"dispid":10,"name":"QMAttachedSign","kind":"method","params":[)"
                     R"({"name":"deSignerDN","type":"string","dir":"in"},)"
                     R"({"name":"pVal","type":"string","dir":"out,retval"}],)"
                     R"("doc":"method QMAttachedSign","built":)"),
            out.find("{\"dispid\":10,"));
  EXPECT_EQ(sign.Find(u"params")->array().size(), 2u);
  const Value& advance = members[53];
  EXPECT_EQ(advance.Find(u"params")->array()[0].Find(u"dir")->string(), u"none");
  EXPECT_EQ(advance.Find(u"doc")->string(), u"方法QMAdvanceAttachedSign");
  const Value& exists = members[32];
  EXPECT_EQ(exists.Find(u"params")->array()[1].Find(u"type")->string(), u"uint32");
  EXPECT_EQ(members[4].Find(u"params")->array()[0].Find(u"type")->string(), u"int32");
}

}  // namespace
}  // namespace quillmark::com
