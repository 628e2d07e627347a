// The dispatch layer: names, DISPIDs, kinds, argument counts, coercions and
// the built list, checked against a recording stand-in of the control.
#include "com/dispatch.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "com/type_library.h"
#include "com/variant.h"
#include "control/recording_control.h"

namespace quillmark::com {

using ::quillmark::control::DISP_E_BADPARAMCOUNT;
using ::quillmark::control::DISP_E_MEMBERNOTFOUND;
using ::quillmark::control::DISP_E_TYPEMISMATCH;
using ::quillmark::control::DISP_E_UNKNOWNNAME;
using ::quillmark::control::E_NOTIMPL;
using ::quillmark::control::HRESULT;
using ::quillmark::control::ILydraCorvaneQuillmark;
using ::quillmark::control::S_FALSE;
using ::quillmark::control::S_OK;
namespace {

using testing::RecordingControl;

bool AllBuilt(const MemberInfo&) { return true; }

// The C++ member a row should reach.
std::string CppName(const MemberInfo& m) {
  switch (m.kind) {
    case MemberKind::kPropGet:
      return "get_" + std::string(m.name);
    case MemberKind::kPropPut:
      return "put_" + std::string(m.name);
    case MemberKind::kMethod:
      break;
  }
  return std::string(m.name);
}

std::u16string U16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST(DispatchTest, NamesResolveInAnyLetterCase) {
  for (const MemberInfo& m : TypeLibraryMembers()) {
    std::u16string name = U16(m.name);
    std::u16string upper = name, lower = name;
    for (char16_t& c : upper) c = (c >= u'a' && c <= u'z') ? c - 32 : c;
    for (char16_t& c : lower) c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
    for (const std::u16string& spelling : {name, upper, lower}) {
      std::int32_t id = -1;
      ASSERT_EQ(Dispatcher::GetIDsOfNames(spelling, &id), S_OK);
      EXPECT_EQ(id, m.dispid);
    }
  }
  std::int32_t id = 0;
  EXPECT_EQ(Dispatcher::GetIDsOfNames(u"mAxCoMpSiZe", &id), S_OK);
  EXPECT_EQ(id, 4);

  const std::u16string_view unknown[] = {
      u"",
      u"QMBase64Encod",
      u"QMBase64Encode ",
      u" errMsg",
      u"get_errMsg",
      std::u16string_view(u"errMsg\0", 7),
      u"QMBase64\u0415ncode",  // Cyrillic Ie for E
      u"ERRMSG\u0130",         // dotted capital I is not ASCII folding
  };
  for (std::u16string_view name : unknown) {
    id = 77;
    EXPECT_EQ(Dispatcher::GetIDsOfNames(name, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, 77) << "the DISPID is left alone on failure";
  }
}

// Every row reaches its own C++ member with its arguments in order, and only
// a member with an out parameter gives a result, of that parameter's type.
TEST(DispatchTest, EveryRowCallsItsOwnMemberWithItsArguments) {
  ASSERT_EQ(TypeLibraryMembers().size(), kMemberCount);
  for (const MemberInfo& m : TypeLibraryMembers()) {
    SCOPED_TRACE(CppName(m));
    RecordingControl control;
    Dispatcher dispatcher(&control, AllBuilt);
    std::vector<Variant> args;
    std::vector<std::u16string> expected;
    for (const ParamInfo& p : m.params()) {
      if (p.dir == ParamDir::kOutRetval) continue;
      std::u16string text = u"arg" + U16(std::to_string(args.size() + 1));
      if (p.type == ParamType::kString) {
        args.emplace_back(text);
        expected.push_back(text);
      } else {
        // Integers arrive as their text and are coerced.
        std::int32_t n = static_cast<std::int32_t>(args.size()) + 11;
        args.emplace_back(U16(std::to_string(n)));
        expected.push_back(U16(std::to_string(n)));
      }
    }
    Variant result(u"stale");
    ASSERT_EQ(dispatcher.Invoke(m.dispid, m.kind, args, &result), S_OK);
    ASSERT_EQ(control.calls.size(), 1u);
    EXPECT_EQ(control.calls[0].member, CppName(m));
    EXPECT_EQ(control.calls[0].args, expected);

    const ParamInfo* out = m.result_param();
    if (out == nullptr) {
      EXPECT_TRUE(result.empty());
    } else if (out->type == ParamType::kString) {
      ASSERT_EQ(result.type(), Variant::Type::kString);
    } else if (out->type == ParamType::kInt32) {
      ASSERT_EQ(result.type(), Variant::Type::kInt32);
    } else {
      ASSERT_EQ(result.type(), Variant::Type::kUInt32);
      EXPECT_EQ(result.uint32(), control.uint_out);
    }
  }
}

TEST(DispatchTest, DispidsAndKindsMustMatchARow) {
  RecordingControl control;
  control.int_out = 51200;
  Dispatcher dispatcher(&control, AllBuilt);
  Variant result;

  // MaxCompSize: one DISPID, two accessors.
  ASSERT_EQ(dispatcher.Invoke(0x4, MemberKind::kPropGet, {}, &result), S_OK);
  EXPECT_EQ(result, Variant(std::int32_t{51200}));
  Variant value(std::int32_t{4096});
  ASSERT_EQ(dispatcher.Invoke(0x4, MemberKind::kPropPut, {&value, 1}, &result), S_OK);
  EXPECT_TRUE(result.empty());
  ASSERT_EQ(control.calls.size(), 2u);
  EXPECT_EQ(control.calls[0].member, "get_MaxCompSize");
  EXPECT_EQ(control.calls[1].member, "put_MaxCompSize");
  EXPECT_EQ(control.calls[1].args, std::vector<std::u16string>{u"4096"});
  control.calls.clear();

  struct Case {
    std::int32_t dispid;
    MemberKind kind;
    std::size_t argc;
  };
  const Case wrong[] = {
      {0x5, MemberKind::kPropGet, 0},  // the unused DISPID
      {0x5, MemberKind::kPropPut, 1},  {0x5, MemberKind::kMethod, 0},
      {0x0, MemberKind::kMethod, 0},   {0x3f, MemberKind::kMethod, 0},  // past the last member
      {-1, MemberKind::kPropGet, 0},   {0x2, MemberKind::kPropPut, 1},  // errMsg is only read
      {0x1, MemberKind::kPropGet, 0},                                   // DNspliter is only written
      {0x3c, MemberKind::kPropGet, 0},  // QMSignMode is only written
      {0xd, MemberKind::kPropGet, 0},   // a method is not a property
      {0x3, MemberKind::kMethod, 0},    // a property is not a method
  };
  for (const Case& c : wrong) {
    std::vector<Variant> args(c.argc, Variant(u"1"));
    result = Variant(u"stale");
    EXPECT_EQ(dispatcher.Invoke(c.dispid, c.kind, args, &result), DISP_E_MEMBERNOTFOUND)
        << "dispid " << c.dispid;
    EXPECT_TRUE(result.empty());
  }
  EXPECT_TRUE(control.calls.empty());
}

TEST(DispatchTest, WrongArgumentCountsNeverReachTheControl) {
  RecordingControl control;
  Dispatcher dispatcher(&control, AllBuilt);
  struct Case {
    std::int32_t dispid;
    MemberKind kind;
    std::size_t argc;
  };
  const Case cases[] = {
      {0x35, MemberKind::kMethod, 7},  // QMSetDialogPrompt takes 8
      {0x35, MemberKind::kMethod, 9}, {0x35, MemberKind::kMethod, 0},
      {0x7, MemberKind::kMethod, 1},  // getVersion: the out parameter is never passed
      {0xa, MemberKind::kMethod, 2},  // QMAttachedSign(deSignerDN) plus its out
      {0xa, MemberKind::kMethod, 0},  {0x4, MemberKind::kPropPut, 0},  // a put needs its value
      {0x4, MemberKind::kPropPut, 2}, {0x3, MemberKind::kPropGet, 1},  // a get takes nothing
      {0x1a, MemberKind::kMethod, 2},                                  // QMRawVerify takes 3
      {0x36, MemberKind::kMethod, 0},  // the no-direction parameter is still passed
  };
  for (const Case& c : cases) {
    std::vector<Variant> args(c.argc, Variant(u"x"));
    Variant result;
    EXPECT_EQ(dispatcher.Invoke(c.dispid, c.kind, args, &result), DISP_E_BADPARAMCOUNT)
        << "dispid " << c.dispid << " with " << c.argc;
  }
  EXPECT_TRUE(control.calls.empty());

  // The no-direction parameter counts as an in parameter.
  Variant dn(u"CN=A");
  Variant result;
  EXPECT_EQ(dispatcher.Invoke(0x36, MemberKind::kMethod, {&dn, 1}, &result), S_OK);
  ASSERT_EQ(control.calls.size(), 1u);
  EXPECT_EQ(control.calls[0].member, "QMAdvanceAttachedSign");
}

TEST(VariantTest, CoercionsToIntegers) {
  struct Case {
    Variant in;
    bool int_ok;
    std::int32_t int_value;
    bool uint_ok;
    std::uint32_t uint_value;
  };
  const Case cases[] = {
      {Variant(), true, 0, true, 0},
      {Variant(u"5"), true, 5, true, 5},
      {Variant(u" -12\t"), true, -12, false, 0},
      {Variant(u"+7"), true, 7, true, 7},
      {Variant(u"0000000000000000000000042"), true, 42, true, 42},
      {Variant(u"2147483647"), true, 2147483647, true, 2147483647u},
      {Variant(u"2147483648"), false, 0, true, 2147483648u},
      {Variant(u"-2147483648"), true, INT32_MIN, false, 0},
      {Variant(u"-2147483649"), false, 0, false, 0},
      {Variant(u"4294967295"), false, 0, true, 4294967295u},
      {Variant(u"4294967296"), false, 0, false, 0},
      {Variant(u"99999999999999999999999"), false, 0, false, 0},
      {Variant(u"-0"), true, 0, true, 0},
      {Variant(u""), false, 0, false, 0},
      {Variant(u"   "), false, 0, false, 0},
      {Variant(u"-"), false, 0, false, 0},
      {Variant(u"5x"), false, 0, false, 0},
      {Variant(u"5 5"), false, 0, false, 0},
      {Variant(u"0x10"), false, 0, false, 0},
      {Variant(u"1e3"), false, 0, false, 0},
      {Variant(u"3.0"), false, 0, false, 0},
      {Variant(u"\uFF15"), false, 0, false, 0},  // full-width digit five
      {Variant(u"--5"), false, 0, false, 0},
      {Variant(std::int32_t{-1}), true, -1, false, 0},
      {Variant(std::int32_t{INT32_MAX}), true, INT32_MAX, true, 2147483647u},
      {Variant(std::uint32_t{4000000000u}), false, 0, true, 4000000000u},
      {Variant(std::uint32_t{7}), true, 7, true, 7},
  };
  for (const Case& c : cases) {
    std::int32_t i = 99;
    std::uint32_t u = 99;
    HRESULT hi = CoerceToInt32(c.in, &i);
    HRESULT hu = CoerceToUInt32(c.in, &u);
    std::string label = c.in.type() == Variant::Type::kString
                            ? std::string(c.in.string().begin(), c.in.string().end())
                            : "type " + std::to_string(static_cast<int>(c.in.type()));
    EXPECT_EQ(hi, c.int_ok ? S_OK : DISP_E_TYPEMISMATCH) << label;
    EXPECT_EQ(i, c.int_ok ? c.int_value : 99) << label;
    EXPECT_EQ(hu, c.uint_ok ? S_OK : DISP_E_TYPEMISMATCH) << label;
    EXPECT_EQ(u, c.uint_ok ? c.uint_value : 99u) << label;
  }
}

TEST(VariantTest, CoercionsToStrings) {
  const std::u16string kLone(1, char16_t{0xD800});
  const std::pair<Variant, std::u16string> cases[] = {
      {Variant(), u""},
      {Variant(std::int32_t{5}), u"5"},
      {Variant(std::int32_t{-10001}), u"-10001"},
      {Variant(std::int32_t{INT32_MIN}), u"-2147483648"},
      {Variant(std::uint32_t{4294967295u}), u"4294967295"},
      {Variant(u"  keep " + kLone + u" as is "), u"  keep " + kLone + u" as is "},
  };
  for (const auto& [in, expected] : cases) {
    std::u16string out = u"stale";
    EXPECT_EQ(CoerceToString(in, &out), S_OK);
    EXPECT_EQ(out, expected);
  }
}

TEST(DispatchTest, ArgumentsAreCoercedOrRefusedBeforeTheCall) {
  RecordingControl control;
  Dispatcher dispatcher(&control, AllBuilt);
  Variant result;
  std::uint32_t bad = 99;

  Variant text_page(u"936");
  EXPECT_EQ(dispatcher.Invoke(0x31, MemberKind::kMethod, {&text_page, 1}, &result), S_OK);
  Variant number_text(std::int32_t{42});
  EXPECT_EQ(dispatcher.Invoke(0x1b, MemberKind::kMethod, {&number_text, 1}, &result), S_OK);
  Variant nothing;
  EXPECT_EQ(dispatcher.Invoke(0x1b, MemberKind::kMethod, {&nothing, 1}, &result), S_OK);
  EXPECT_EQ(dispatcher.Invoke(0x3c, MemberKind::kPropPut, {&nothing, 1}, &result), S_OK);
  ASSERT_EQ(control.calls.size(), 4u);
  EXPECT_EQ(control.calls[0].args, std::vector<std::u16string>{u"936"});
  EXPECT_EQ(control.calls[1].args, std::vector<std::u16string>{u"42"});
  EXPECT_EQ(control.calls[2].args, std::vector<std::u16string>{u""});
  EXPECT_EQ(control.calls[3].args, std::vector<std::u16string>{u"0"});
  control.calls.clear();

  Variant not_a_number(u"936 pages");
  EXPECT_EQ(dispatcher.Invoke(0x31, MemberKind::kMethod, {&not_a_number, 1}, &result, &bad),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(bad, 0u);
  Variant negative(std::int32_t{-1});
  EXPECT_EQ(dispatcher.Invoke(0x17, MemberKind::kMethod, {&negative, 1}, &result),
            DISP_E_TYPEMISMATCH);  // type is unsigned
  Variant too_big(std::uint32_t{3000000000u});
  EXPECT_EQ(dispatcher.Invoke(0x4, MemberKind::kPropPut, {&too_big, 1}, &result),
            DISP_E_TYPEMISMATCH);  // MaxCompSize is signed
  EXPECT_TRUE(result.empty());
  EXPECT_TRUE(control.calls.empty());
}

TEST(DispatchTest, MemberStatusesPassThrough) {
  RecordingControl control;
  Dispatcher dispatcher(&control, AllBuilt);
  Variant arg(u"CN=Nobody");
  Variant result;

  control.status = S_FALSE;
  control.text_out = u"";
  EXPECT_EQ(dispatcher.Invoke(0xa, MemberKind::kMethod, {&arg, 1}, &result), S_FALSE);
  EXPECT_EQ(result, Variant(u"")) << "a failed member still hands out its empty text";

  // A status that is not a success keeps the out value away.
  control.status = E_NOTIMPL;
  control.text_out = u"partial";
  EXPECT_EQ(dispatcher.Invoke(0xa, MemberKind::kMethod, {&arg, 1}, &result), E_NOTIMPL);
  EXPECT_TRUE(result.empty());
  EXPECT_EQ(control.calls.size(), 2u);
}

TEST(DispatchTest, UnbuiltMembersAnswerNotImplementedWithoutACall) {
  RecordingControl control;
  Dispatcher only_plain_text(&control,
                             [](const MemberInfo& m) { return m.name == "QMSetPlainText"; });
  Variant arg(u"hello");
  Variant result;
  EXPECT_EQ(only_plain_text.Invoke(0xd, MemberKind::kMethod, {&arg, 1}, &result), E_NOTIMPL);
  EXPECT_TRUE(result.empty());
  EXPECT_TRUE(control.calls.empty());
  EXPECT_EQ(only_plain_text.Invoke(0x1b, MemberKind::kMethod, {&arg, 1}, &result), S_OK);
  EXPECT_EQ(control.calls.size(), 1u);
  // Shape errors are still told apart from a missing member.
  EXPECT_EQ(only_plain_text.Invoke(0xd, MemberKind::kMethod, {}, &result), DISP_E_BADPARAMCOUNT);

  // With the library's own list, exactly the listed members are reached.
  for (const MemberInfo& m : TypeLibraryMembers()) {
    RecordingControl fresh;
    Dispatcher dispatcher(&fresh);
    std::vector<Variant> args(m.in_count(), Variant(u"1"));
    HRESULT hr = dispatcher.Invoke(m.dispid, m.kind, args, &result);
    if (IsMemberBuilt(m)) {
      EXPECT_EQ(hr, S_OK) << m.name;
      EXPECT_EQ(fresh.calls.size(), 1u) << m.name;
    } else {
      EXPECT_EQ(hr, E_NOTIMPL) << m.name;
      EXPECT_TRUE(fresh.calls.empty()) << m.name;
    }
  }
}

TEST(TypeLibraryTest, BuiltListNamesRowsOnce) {
  std::set<std::string> spellings;
  for (const MemberInfo& m : TypeLibraryMembers()) spellings.insert(BuiltListSpelling(m));
  EXPECT_EQ(spellings.size(), kMemberCount) << "every row has its own spelling";
  std::set<std::string_view> seen;
  for (std::string_view entry : BuiltMemberList()) {
    EXPECT_TRUE(spellings.count(std::string(entry))) << "'" << entry << "' names no member";
    EXPECT_TRUE(seen.insert(entry).second) << "'" << entry << "' is listed twice";
  }
}

TEST(TypeLibraryTest, IdlDeclaresEveryMemberWithItsAttributes) {
  std::string idl = TypeLibraryIdl();
  std::size_t methods = 0;
  for (std::size_t at = idl.find("] HRESULT "); at != std::string::npos;
       at = idl.find("] HRESULT ", at + 1)) {
    ++methods;
  }
  EXPECT_EQ(methods, kMemberCount);
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
      "[propput, id(1), helpstring(\"property DNspliter\")] HRESULT DNspliter([in] BSTR newVal);",
      "[propget, id(4), helpstring(\"property MaxCompSize\")] HRESULT MaxCompSize([out, retval] "
      "LONG* pVal);",
      "[propput, id(4), helpstring(\"property MaxCompSize\")] HRESULT MaxCompSize([in] LONG "
      "newVal);",
      "HRESULT IsCertExists([in] BSTR DN, [out, retval] ULONG* pdwRet);",
      "HRESULT QMGetSignerCertInfo([in] ULONG type, [out, retval] BSTR* pVal);",
      "HRESULT QMAdvanceAttachedSign(BSTR deSignerDN, [out, retval] BSTR* pVal);",
      "HRESULT QMAdvanceAttachedVerify(BSTR signedMsg);",
      "HRESULT QMUseSpecAdvanceAttachedSign(BSTR deSignerDN, [out, retval] BSTR* pVal);",
      "[propput, id(60), helpstring(\"属性QMSignMode\")] HRESULT QMSignMode([in] LONG newVal);",
  };
  for (const char* text : expected) {
    EXPECT_NE(idl.find(text), std::string::npos) << text;
  }
  // Only the three Advance parameters go without a direction.
  std::size_t bare = 0;
  for (const MemberInfo& m : TypeLibraryMembers()) {
    for (const ParamInfo& p : m.params()) bare += p.dir == ParamDir::kNone;
  }
  EXPECT_EQ(bare, 3u);
}

}  // namespace
}  // namespace quillmark::com
