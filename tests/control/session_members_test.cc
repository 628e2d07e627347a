// What a page sees of the control's settings, Base64, DN rules and
// plain-text members, through one `quillmark session` process per script.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/json.h"
#include "common/unicode.h"
#include "control/guids.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/registry/registry.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::control {
namespace {

std::string U8(std::u16string_view s) { return Utf16ToUtf8Lossy(s); }

std::string Call(const std::string& member, const std::vector<std::u16string>& args = {}) {
  std::string line = "{\"call\":\"" + member + "\",\"args\":[";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += ",";
    line += json::Quote(args[i]);
  }
  return line + "]}";
}
std::string CallInt(const std::string& member, std::int64_t arg) {
  return "{\"call\":\"" + member + "\",\"args\":[" + std::to_string(arg) + "]}";
}
std::string Get(const std::string& property) { return "{\"get\":\"" + property + "\"}"; }
std::string Put(const std::string& property, std::int64_t value) {
  return "{\"put\":\"" + property + "\",\"value\":" + std::to_string(value) + "}";
}
std::string Put(const std::string& property, std::u16string_view value) {
  return "{\"put\":\"" + property + "\",\"value\":" + json::Quote(value) + "}";
}

// One request and what its answer must hold.
struct Step {
  std::string request;
  std::int64_t hr;
  std::int64_t error_num;
  std::u16string err_msg;
  std::optional<std::u16string> text;  // the result, when a text
  std::optional<std::int64_t> number;  // the result, when a number
  std::vector<std::string> dialogs;    // "kind|title|filter|answer" of each dialog shown
};

class SessionMembersTest : public ::testing::Test {
 protected:
  // Runs every step's request through one session with |ui_script| as the
  // dialog answers and checks the answers.
  // Returns the answers.
  std::vector<json::Value> Check(const std::vector<Step>& steps,
                                 const std::string& ui_script = "") {
    std::vector<json::Value> answers;
    Run(steps, ui_script, &answers);
    return answers;
  }

  void Run(const std::vector<Step>& steps, const std::string& ui_script,
           std::vector<json::Value>* answers) {
    std::string requests;
    for (const Step& s : steps) requests += s.request + "\n";
    ASSERT_TRUE(testing::WriteBytes(work_.File("in.jsonl"), AsBytes(requests)));
    ASSERT_TRUE(testing::WriteBytes(work_.File("ui.txt"), AsBytes(ui_script)));
    std::string out;
    ASSERT_EQ(testing::RunShellCapture(std::string(QM_CLI_PATH) + " session --home '" +
                                           home_.path() + "' --ui 'script:" + work_.File("ui.txt") +
                                           "' < '" + work_.File("in.jsonl") + "'",
                                       &out),
              0);
    std::size_t start = 0, i = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1, ++i) {
      ASSERT_LT(i, steps.size()) << "more answers than requests";
      const Step& s = steps[i];
      SCOPED_TRACE("step " + std::to_string(i) + ": " + s.request.substr(0, 100));
      json::Value a;
      std::string error;
      ASSERT_TRUE(json::Parse(out.substr(start, end - start), &a, &error)) << error;
      ASSERT_NE(a.Find(u"hr"), nullptr) << out.substr(start, end - start);
      EXPECT_EQ(a.Find(u"hr")->integer(), s.hr);
      EXPECT_EQ(a.Find(u"errorNum")->integer(), s.error_num);
      EXPECT_EQ(U8(a.Find(u"errMsg")->string()), U8(s.err_msg));
      const json::Value* result = a.Find(u"result");
      if (s.text) {
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(U8(result->string()), U8(*s.text));
      }
      if (s.number) {
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(result->integer(), *s.number);
      }
      std::vector<std::string> dialogs;
      for (const json::Value& d : a.Find(u"dialogs")->array()) {
        std::string shown = U8(d.Find(u"kind")->string());
        for (const char16_t* field : {u"title", u"filter", u"defaultName", u"answer"}) {
          if (const json::Value* v = d.Find(field)) shown += "|" + U8(v->string());
        }
        dialogs.push_back(shown);
      }
      EXPECT_EQ(dialogs, s.dialogs);
      answers->push_back(std::move(a));
    }
    EXPECT_EQ(i, steps.size());
  }

  testing::ScratchDir home_, work_;
};

TEST_F(SessionMembersTest, FreshInstanceReportsItsDefaults) {
  Check({
      {Get("errorNum"), 0, 0, u"", {}, 0, {}},
      {Get("errorCode"), 0, 0, u"", {}, 0, {}},
      {Get("errMsg"), 0, 0, u"", u"", {}, {}},
      {Get("MaxCompSize"), 0, 0, u"", {}, 51200, {}},
      {Call("getVersion"), 0, 0, u"", u"2.1.0.0", {}, {}},
  });
}

// MaxCompSize ignores values that are not positive, silently.
TEST_F(SessionMembersTest, MaxCompSizeIgnoresValuesThatAreNotPositive) {
  Check({
      {Put("MaxCompSize", 0), 0, 0, u"", {}, {}, {}},
      {Put("MaxCompSize", -5), 0, 0, u"", {}, {}, {}},
      {Get("maxcompsize"), 0, 0, u"", {}, 51200, {}},
      {Put("MaxCompSize", 1000), 0, 0, u"", {}, {}, {}},
      {Get("MaxCompSize"), 0, 0, u"", {}, 1000, {}},
  });
}

// A failure first, to show which handlers leave errMsg alone.
TEST_F(SessionMembersTest, WhichHandlersLeaveTheErrorStateAlone) {
  Check({
      {Call("QMSetPlainText", {u""}), 1, -10001, u"源数据为空", {}, {}, {}},
      {Put("DNspliter", u"1234567"), 0, -10001, u"源数据为空", {}, {}, {}},
      {Put("DNspliter", u"12345678"), 1, -10025, u"源数据为空", {}, {}, {}},
      {Put("QMSignMode", 5), 0, -10060, u"", {}, {}, {}},
      {Put("QMSignMode", 4), 0, 0, u"", {}, {}, {}},
      {Call("QMSetSM2CertStoreName", {u""}), 1, -10001, u"源数据为空", {}, {}, {}},
      {Put("QMServerMode", 3), 0, 0, u"", {}, {}, {}},
      {Call("QMSetSM2CertStoreName", {u"SM2"}), 0, 0, u"", {}, {}, {}},
      {Call("QMSetCopyRightInfo", {u""}), 1, -10001, u"源数据为空", {}, {}, {}},
      {Call("QMSetCopyRightInfo", {u"版权所有"}), 0, 0, u"", {}, {}, {}},
      {Call("QMSetDialogPrompt", {u"T", u"P", u"S", u"", u"N", u"O", u"C", u"V"}),
       1,
       -10001,
       u"源数据为空",
       {},
       {},
       {}},
      {Call("QMSetDialogPrompt", {u"T", u"P", u"S", u"I", u"N", u"O", u"C", u"V"}),
       0,
       0,
       u"",
       {},
       {},
       {}},
      {Call("QMSetDigestArithmetic", {u""}), 1, -10001, u"源数据为空", {}, {}, {}},
      {Call("QMSetDigestArithmetic", {u"2.16.840.1.101.3.4.2.1"}), 0, 0, u"", {}, {}, {}},
      {Call("QMSetSymmetryArithmetic", {std::u16string(128, u'1')}),
       1,
       -10056,
       u"算法标识太长",
       {},
       {},
       {}},
      {Call("QMSetSymmetryArithmetic", {std::u16string(127, u'1')}), 0, 0, u"", {}, {}, {}},
  });
}

// The code page is stored untested and leaves the error state alone;
// conversions fail later.
TEST_F(SessionMembersTest, CodePageIsStoredUntestedAndConversionsFailLater) {
  Check({
      {Call("QMSetPlainText", {u""}), 1, -10001, u"源数据为空", {}, {}, {}},
      {CallInt("QMSetCodePage", 4242), 0, -10001, u"源数据为空", {}, {}, {}},
      {Call("QMSetPlainText", {u"x"}), 1, -10034, u"编码转换失败", {}, {}, {}},
      {Call("QMBase64Encode", {u"x"}), 1, -10034, u"字符编码转换失败", u"", {}, {}},
      {Call("QMSetDigestArithmetic", {u"1.2"}), 1, -10034, u"字符编码转换失败", {}, {}, {}},
      {Get("errorCode"), 0, -10034, u"字符编码转换失败", {}, 0, {}},
  });
}

TEST_F(SessionMembersTest, CertificateInfoTypesOutsideOneToFiveFail) {
  Check({
      {CallInt("QMGetSignerCertInfo", 6), 1, -10008, u"类型错误，没有该类型的值", u"", {}, {}},
      {CallInt("QMGetReciptCertInfo", 0), 1, -10008, u"类型错误，没有该类型的值", u"", {}, {}},
      {CallInt("QMGetSignerCertInfo", 5), 0, 0, u"", u"", {}, {}},
  });
}

TEST_F(SessionMembersTest, Base64ThroughCodePages936And65001) {
  Check({
      {Call("QMBase64Encode", {u"abc"}), 0, 0, u"", u"YWJj\n", {}, {}},
      {Call("QMBase64Decode", {u"YWJj\n"}), 0, 0, u"", u"abc", {}, {}},
      {Call("QMBase64Encode", {u"中文"}), 0, 0, u"", u"1tDOxA==\n", {}, {}},
      {Call("QMBase64Decode", {u"1tDOxA=="}), 0, 0, u"", u"中文", {}, {}},
      // Characters GBK cannot hold become '?'.
      {Call("QMBase64Encode", {u"a😀한"}), 0, 0, u"", u"YT8/\n", {}, {}},
      {Call("QMBase64Encode", {std::u16string(1, u'\0')}), 0, 0, u"", u"\n", {}, {}},
      {Call("QMBase64Decode", {u"=YWJj"}), 1, -10036, u"字符编码转换失败", u"", {}, {}},
      // Empty input: errorNum -10001 and the previous errMsg stays.
      {Call("QMBase64Encode", {u""}), 1, -10001, u"字符编码转换失败", u"", {}, {}},
      {Call("QMBase64Decode", {u""}), 1, -10001, u"字符编码转换失败", u"", {}, {}},
      {Call("QMBase64Decode", {u"YWJjZ"}), 1, -10002, u"Base64解码失败", u"", {}, {}},
      {CallInt("QMSetCodePage", 65001), 0, -10002, u"Base64解码失败", {}, {}, {}},
      {Call("QMBase64Encode", {u"中文"}), 0, 0, u"", u"5Lit5paH\n", {}, {}},
      {Call("QMBase64Encode", {u"a😀한"}), 0, 0, u"", u"YfCfmIDtlZw=\n", {}, {}},
      {Call("QMBase64Decode", {u"1tDOxA=="}), 0, 0, u"", u"\uFFFD\uFFFD\uFFFD\uFFFD", {}, {}},
      {Call("QMBase64Decode", {u"5Lit5paH"}), 0, 0, u"", u"中文", {}, {}},
  });
}

TEST_F(SessionMembersTest, DnLimitsAsTheDnMembersApplyThem) {
  // No certificate matches in an empty home, so a DN that passes the checks
  // answers 0 and errorNum 0; one that fails reports through errorNum.
  const std::u16string kLong(32768, u'x');
  std::u16string commas255 = u"CN=a", commas256;
  for (int i = 0; i < 255; ++i) commas255 += u",";
  commas256 = commas255 + u",";
  Check({
      {Call("IsCertExists", {kLong}), 0, 0, u"", {}, 0, {}},
      {Call("IsCertExists", {kLong + u"x"}), 0, -10056, u"设置的DN数据太长", {}, 0, {}},
      {Call("IsCertExists", {commas255}), 0, 0, u"", {}, 0, {}},
      {Call("IsCertExists", {commas256}), 0, -10057, u"DN验证失败", {}, 0, {}},
      {Call("IsCertExists", {u"CN=a|CN=b|CN=c|CN=d|CN=e"}), 0, 0, u"", {}, 0, {}},
      {Call("IsCertExists", {u"CN=a|CN=b|CN=c|CN=d|CN=e|CN=f"}),
       0,
       -10025,
       u"DN验证失败",
       {},
       0,
       {}},
      {Call("QMGetCertExtension", {kLong + u"x", u"2.5.29.15"}), 1, -10056, u"DN太长", u"", {}, {}},
      {Call("QMGetCertExtension", {commas256, u"2.5.29.15"}),
       1,
       -10057,
       u"DN验证失败",
       u"",
       {},
       {}},
      // "||" is counted without overlap: "a|||b" holds one separator.
      {Put("DNspliter", u"||"), 0, -10057, u"DN验证失败", {}, {}, {}},
      {Call("IsCertExists", {u"a|||b||c||d||e"}), 0, 0, u"", {}, 0, {}},
      {Call("IsCertExists", {u"a||b||c||d||e||f"}), 0, -10025, u"DN验证失败", {}, 0, {}},
      // An empty separator refuses every DN, and members without a DN still work.
      {Put("DNspliter", u""), 0, -10025, u"DN验证失败", {}, {}, {}},
      {Call("IsCertExists", {u"CN=a"}), 0, -10024, u"DN验证失败", {}, 0, {}},
      {Call("QMBase64Encode", {u"a"}), 0, 0, u"", u"YQ==\n", {}, {}},
  });
}

TEST_F(SessionMembersTest, PlainTextAndFilesWithScriptedDialogs) {
  ASSERT_TRUE(testing::WriteBytes(work_.File("report.pdf"), AsBytes("%PDF")));
  ASSERT_TRUE(testing::WriteBytes(work_.File("empty.txt"), AsBytes("")));
  const std::u16string report = Utf8ToUtf16Lossy(work_.File("report.pdf"));
  const std::u16string empty = Utf8ToUtf16Lossy(work_.File("empty.txt"));
  const std::string open = "open|Open|*.*|";
  Check(
      {
          {Call("QMSetPlainText", {u"hello world"}), 0, 0, u"", {}, {}, {}},
          {Call("QMAddFormItem", {u"表单"}), 0, 0, u"", {}, {}, {}},
          {Call("QMAddFormItem", {u""}), 1, -10001, u"加入表单失败", {}, {}, {}},
          {Call("QMAddFile", {report}), 0, 0, u"", {}, {}, {}},
          {Call("QMAddFile", {std::u16string(257, u'a')}), 1, -10056, u"文件名超长", {}, {}, {}},
          {Call("QMAddFile", {empty}), 1, -1, u"读取文件失败", {}, {}, {}},
          {Call("QMAddFile", {u"report.pdf"}), 1, -1, u"读取文件失败", {}, {}, {}},
          // Without a name the Open dialog asks.
          {Call("QMAddFile", {u""}), 0, 0, u"", {}, {}, {open + "open " + U8(report)}},
          {"{\"call\":\"QMAddFile\",\"args\":[null]}",
           1,
           -10004,
           u"用户取消",
           {},
           {},
           {open + "cancel"}},  // an absent name
          {Call("QMAddFileForEncrypt", {u""}), 1, -10004, u"用户取消", {}, {}, {open + "cancel"}},
          {Put("QMServerMode", 1), 0, 0, u"", {}, {}, {}},
          {Call("QMAddFile", {u""}), 1, -10001, u"源数据为空", {}, {}, {}},
          // Nothing was received: the page reads an empty text, and taking
          // entries fails without touching errorNum.
          {Call("QMGetPlainText"), 0, 0, u"", u"", {}, {}},
          {Call("QMGetFormItem"), 1, 0, u"源数据为空", u"", {}, {}},
          {Call("QMAddFile", {std::u16string(257, u'a')}), 1, -10056, u"文件名超长", {}, {}, {}},
          {Call("QMGetFile"), 1, -10056, u"源数据为空", u"", {}, {}},
          {Call("QMGetFormItem"), 1, -10056, u"源数据为空", u"", {}, {}},
      },
      "open " + work_.File("report.pdf") + "\ncancel\ncancel\n");
}

TEST_F(SessionMembersTest, GetMacListsAdaptersAndNeverReportsANumber) {
  std::vector<json::Value> answers = Check({
      {Call("QMSetPlainText", {u""}), 1, -10001, u"源数据为空", {}, {}, {}},
      {Call("GetMac"), 0, 0, u"源数据为空", {}, {}, {}},  // errMsg left as it was
  });
  ASSERT_EQ(answers.size(), 2u);
  // The addresses depend on the machine: check the layout.
  std::string macs = U8(answers[1].Find(u"result")->string());
  for (std::size_t i = 0; i < macs.size(); ++i) {
    char c = macs[i];
    bool ok =
        i % 3 == 2 ? (c == '-' || c == ';') : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    EXPECT_TRUE(ok) << macs;
  }
  EXPECT_TRUE(macs.empty() || macs.back() != ';') << macs;
}

}  // namespace
}  // namespace quillmark::control
