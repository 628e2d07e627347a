// The type library table and the IDL text generated from it.
#include "com/type_library.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quillmark::com {
namespace {

TEST(TypeLibraryTest, IdlDeclaresEveryMember) {
  std::string idl = TypeLibraryIdl();
  std::size_t methods = 0;
  for (std::size_t at = idl.find("] HRESULT "); at != std::string::npos;
       at = idl.find("] HRESULT ", at + 1)) {
    ++methods;
  }
  EXPECT_EQ(methods, kMemberCount);
}

TEST(TypeLibraryTest, IdlDeclaresTheLibraryAndMembersWithTheirAttributes) {
  std::string idl = TypeLibraryIdl();
  const char* expected[] = {
      "library LydraQuillmark",
      "version(1.0),\n\thelpstring(\"LydraQuillmark 1.0 Type Library\")",
      "interface ILydraCorvaneQuillmark : IDispatch",
      "\tdual,\n",
      "dispinterface _ILydraCorvaneQuillmarkEvents\n\t{\n\t\tproperties:\n\t\tmethods:\n\t};",
      "coclass LydraCorvaneQuillmark",
      "[default] interface ILydraCorvaneQuillmark;",
      "[default, source] dispinterface _ILydraCorvaneQuillmarkEvents;",
      "uuid(F05580A8-E757-478E-B4E2-453BFDF94D69)",
      "[propput, id(1), helpstring(\"property DNspliter\")] HRESULT DNspliter([in] BSTR value);",
      "[propget, id(4), helpstring(\"property MaxCompSize\")] HRESULT MaxCompSize([out, retval] "
      "LONG* pVal);",
      "[propput, id(4), helpstring(\"property MaxCompSize\")] HRESULT MaxCompSize([in] LONG "
      "value);",
      "HRESULT IsCertExists([in] BSTR DN, [out, retval] ULONG* pdwRet);",
      "HRESULT QMGetSignerCertInfo([in] ULONG type, [out, retval] BSTR* pVal);",
      "HRESULT QMAdvanceAttachedSign(BSTR deSignerDN, [out, retval] BSTR* pVal);",
      "HRESULT QMAdvanceAttachedVerify(BSTR signedMsg);",
      "HRESULT QMUseSpecAdvanceAttachedSign(BSTR deSignerDN, [out, retval] BSTR* pVal);",
      "[propput, id(60), helpstring(\"属性QMSignMode\")] HRESULT QMSignMode([in] LONG value);",
  };
  for (const char* text : expected) {
    EXPECT_NE(idl.find(text), std::string::npos) << text;
  }
}

TEST(TypeLibraryTest, OnlyTheThreeAdvanceParametersGoWithoutADirection) {
  std::size_t bare = 0;
  for (const MemberInfo& m : TypeLibraryMembers()) {
    for (const ParamInfo& p : m.params()) bare += p.dir == ParamDir::kNone;
  }
  EXPECT_EQ(bare, 3u);
}

TEST(TypeLibraryTest, EveryRowIsBuiltAndHasItsOwnNameAndKind) {
  std::set<std::pair<std::string_view, MemberKind>> rows;
  for (const MemberInfo& m : TypeLibraryMembers()) {
    EXPECT_TRUE(m.built()) << m.name;
    EXPECT_TRUE(rows.insert({m.name, m.kind}).second) << m.name << " appears twice";
  }
  EXPECT_EQ(rows.size(), kMemberCount);
}

// The four property puts name their one parameter "value", as the table
// that pages and the IDL rely on spells it.
TEST(TypeLibraryTest, PropertyPutsNameTheirParameterValue) {
  struct Case {
    std::int32_t dispid;
    std::string_view name;
    ParamType type;
  };
  const Case cases[] = {
      {0x1, "DNspliter", ParamType::kString},
      {0x4, "MaxCompSize", ParamType::kInt32},
      {0x6, "QMServerMode", ParamType::kInt32},
      {0x3c, "QMSignMode", ParamType::kInt32},
  };
  std::size_t puts = 0;
  for (const MemberInfo& m : TypeLibraryMembers()) puts += m.kind == MemberKind::kPropPut;
  EXPECT_EQ(puts, std::size(cases));
  for (const Case& c : cases) {
    const MemberInfo* m = FindMember(c.dispid, MemberKind::kPropPut);
    ASSERT_NE(m, nullptr) << c.name;
    EXPECT_EQ(m->name, c.name);
    ASSERT_EQ(m->params().size(), 1u) << c.name;
    EXPECT_EQ(m->params()[0].name, "value") << c.name;
    EXPECT_EQ(m->params()[0].type, c.type) << c.name;
    EXPECT_EQ(m->params()[0].dir, ParamDir::kIn) << c.name;
  }
}

}  // namespace
}  // namespace quillmark::com
