// `quillmark typelib --json`: the member list pages and the extension read.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "common/json.h"
#include "support/session_lines.h"
#include "support/test_dirs.h"

namespace quillmark::com {
namespace {

using json::Value;
using testing::ParseAnswer;

struct Expected {
  int dispid;
  const char16_t* name;
  const char16_t* kind;
};
// The names and DISPIDs pages use, in interface order.
const Expected kExpected[] = {
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

class TypelibJsonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(testing::RunShellCapture(QM_CLI_PATH " typelib --json", &out_), 0);
    doc_ = ParseAnswer(out_.substr(0, out_.find('\n')));
    ASSERT_NE(doc_.Find(u"members"), nullptr);
  }
  const std::vector<Value>& Members() const { return doc_.Find(u"members")->array(); }

  std::string out_;
  Value doc_;
};

// The member list of `quillmark typelib --json`, against the names and
// DISPIDs pages use.
TEST_F(TypelibJsonTest, ListsTheMembersInInterfaceOrder) {
  const std::vector<Value>& members = Members();
  ASSERT_EQ(members.size(), 62u);

  for (std::size_t i = 0; i < members.size(); ++i) {
    const Value& m = members[i];
    EXPECT_EQ(m.Find(u"dispid")->integer(), kExpected[i].dispid) << i;
    EXPECT_EQ(m.Find(u"name")->string(), kExpected[i].name) << i;
    EXPECT_EQ(m.Find(u"kind")->string(), kExpected[i].kind) << i;
    EXPECT_FALSE(m.Find(u"doc")->string().empty());
  }
}

// Every member is built; a consumer reads "built" from each entry.
TEST_F(TypelibJsonTest, EveryMemberSaysItIsBuilt) {
  const std::vector<Value>& members = Members();
  ASSERT_EQ(members.size(), 62u);
  for (std::size_t i = 0; i < members.size(); ++i) {
    ASSERT_NE(members[i].Find(u"built"), nullptr) << i;
    EXPECT_TRUE(members[i].Find(u"built")->is_bool()) << i;
    EXPECT_TRUE(members[i].Find(u"built")->boolean()) << i;
  }
}

TEST_F(TypelibJsonTest, ParametersByExample) {
  const std::vector<Value>& members = Members();
  ASSERT_EQ(members.size(), 62u);
  const Value& sign = members[9];
  EXPECT_EQ(out_.find(R"({"dispid":10,"name":"QMAttachedSign","kind":"method","params":[)"
                      R"({"name":"deSignerDN","type":"string","dir":"in"},)"
                      R"({"name":"pVal","type":"string","dir":"out,retval"}],)"
                      R"("doc":"method QMAttachedSign","built":true,"effects":["key"]})"),
            out_.find("{\"dispid\":10,"));
  EXPECT_EQ(sign.Find(u"params")->array().size(), 2u);
  const Value& advance = members[53];
  EXPECT_EQ(advance.Find(u"params")->array()[0].Find(u"dir")->string(), u"none");
  EXPECT_EQ(advance.Find(u"doc")->string(), u"方法QMAdvanceAttachedSign");
  const Value& exists = members[32];
  EXPECT_EQ(exists.Find(u"params")->array()[1].Find(u"type")->string(), u"uint32");
  EXPECT_EQ(members[4].Find(u"params")->array()[0].Find(u"type")->string(), u"int32");
}

// Each entry says what the member may do outside the control, in words a
// front end reads: the names of the effects, none for most members.
TEST_F(TypelibJsonTest, EffectsByExample) {
  std::map<std::u16string, std::vector<std::u16string>> effects;
  for (const Value& m : Members()) {
    ASSERT_NE(m.Find(u"effects"), nullptr);
    std::vector<std::u16string>& names = effects[m.Find(u"name")->string()];
    for (const Value& e : m.Find(u"effects")->array()) names.push_back(e.string());
  }
  using Names = std::vector<std::u16string>;
  EXPECT_EQ(effects[u"QMAttachedSign"], Names{u"key"});
  EXPECT_EQ(effects[u"QMUseSpecAdvanceDetachedSign"], Names{u"key"});
  EXPECT_EQ(effects[u"QMDecryptedAndVerifiedEnvelop"], Names{u"key"});
  EXPECT_EQ(effects[u"QMAttachedVerifySignedFile"], (Names{u"readFile", u"writeFile"}));
  EXPECT_EQ(effects[u"QMEncryptFileAndSave"], Names{u"writeFile"});
  EXPECT_EQ(effects[u"GetMac"], Names{u"machine"});
  EXPECT_EQ(effects[u"QMAdvanceAttachedVerify"], Names{});
  EXPECT_EQ(effects[u"QMEncryptedEnvelop"], Names{});  // a public key only
  std::size_t key_members = 0;
  for (const auto& [name, names] : effects) {
    key_members += std::count(names.begin(), names.end(), u"key");
  }
  EXPECT_EQ(key_members, 22u);
}

// The property puts name their one in parameter "value".
TEST_F(TypelibJsonTest, PropertyPutsNameTheirParameterValue) {
  const std::vector<Value>& members = Members();
  ASSERT_EQ(members.size(), 62u);
  struct Case {
    std::size_t row;
    const char16_t* name;
    const char16_t* type;
  };
  const Case cases[] = {
      {0, u"DNspliter", u"string"},
      {4, u"MaxCompSize", u"int32"},
      {5, u"QMServerMode", u"int32"},
      {59, u"QMSignMode", u"int32"},
  };
  for (const Case& c : cases) {
    const Value& m = members[c.row];
    EXPECT_EQ(m.Find(u"name")->string(), c.name);
    EXPECT_EQ(m.Find(u"kind")->string(), u"propput");
    const std::vector<Value>& params = m.Find(u"params")->array();
    ASSERT_EQ(params.size(), 1u);
    EXPECT_EQ(params[0].Find(u"name")->string(), u"value");
    EXPECT_EQ(params[0].Find(u"type")->string(), c.type);
    EXPECT_EQ(params[0].Find(u"dir")->string(), u"in");
  }
}

}  // namespace
}  // namespace quillmark::com
