// The dispatch layer: names, DISPIDs, kinds, argument counts and coercions,
// checked against a recording stand-in of the control.
#include "com/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/type_library.h"
#include "com/variant.h"
#include "support/recording_control.h"

namespace quillmark::com {

using ::quillmark::control::DISP_E_BADPARAMCOUNT;
using ::quillmark::control::DISP_E_MEMBERNOTFOUND;
using ::quillmark::control::DISP_E_TYPEMISMATCH;
using ::quillmark::control::DISP_E_UNKNOWNNAME;
using ::quillmark::control::E_NOTIMPL;
using ::quillmark::control::HRESULT;
using ::quillmark::control::S_FALSE;
using ::quillmark::control::S_OK;
namespace {

using testing::RecordingControl;

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
}

TEST(DispatchTest, UnknownNamesLeaveTheDispidAlone) {
  std::int32_t id = 0;
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
    Dispatcher dispatcher(&control);
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

TEST(DispatchTest, PropertyAccessorsShareOneDispid) {
  RecordingControl control;
  control.int_out = 51200;
  Dispatcher dispatcher(&control);
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
}

TEST(DispatchTest, DispidsAndKindsWithoutARowAreNotFound) {
  RecordingControl control;
  Dispatcher dispatcher(&control);
  Variant result;
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
  Dispatcher dispatcher(&control);
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
}

TEST(DispatchTest, TheNoDirectionParameterCountsAsAnInParameter) {
  RecordingControl control;
  Dispatcher dispatcher(&control);
  Variant dn(u"CN=A");
  Variant result;
  EXPECT_EQ(dispatcher.Invoke(0x36, MemberKind::kMethod, {&dn, 1}, &result), S_OK);
  ASSERT_EQ(control.calls.size(), 1u);
  EXPECT_EQ(control.calls[0].member, "QMAdvanceAttachedSign");
}

TEST(DispatchTest, ArgumentsAreCoercedBeforeTheCall) {
  RecordingControl control;
  Dispatcher dispatcher(&control);
  Variant result;

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
}

TEST(DispatchTest, ArgumentsThatCannotBeCoercedNeverReachTheControl) {
  RecordingControl control;
  Dispatcher dispatcher(&control);
  Variant result;
  std::uint32_t bad = 99;
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

TEST(DispatchTest, AFailedMemberPassesItsStatusAndEmptyText) {
  RecordingControl control;
  Dispatcher dispatcher(&control);
  Variant arg(u"CN=Nobody");
  Variant result;

  control.status = S_FALSE;
  control.text_out = u"";
  EXPECT_EQ(dispatcher.Invoke(0xa, MemberKind::kMethod, {&arg, 1}, &result), S_FALSE);
  EXPECT_EQ(result, Variant(u"")) << "a failed member still hands out its empty text";
  EXPECT_EQ(control.calls.size(), 1u);
}

TEST(DispatchTest, AStatusThatIsNotASuccessKeepsTheOutValueAway) {
  RecordingControl control;
  Dispatcher dispatcher(&control);
  Variant arg(u"CN=Nobody");
  Variant result;
  control.status = E_NOTIMPL;
  control.text_out = u"partial";
  EXPECT_EQ(dispatcher.Invoke(0xa, MemberKind::kMethod, {&arg, 1}, &result), E_NOTIMPL);
  EXPECT_TRUE(result.empty());
  EXPECT_EQ(control.calls.size(), 1u);
}

// Every member of the library is reached by a dispatcher made with nothing
// but the control; shape errors stay the dispatch layer's own.
TEST(DispatchTest, EveryMemberIsReachedThroughTheTypeLibrary) {
  for (const MemberInfo& m : TypeLibraryMembers()) {
    RecordingControl fresh;
    Dispatcher dispatcher(&fresh);
    std::vector<Variant> args(m.in_count(), Variant(u"1"));
    Variant result;
    HRESULT hr = dispatcher.Invoke(m.dispid, m.kind, args, &result);
    EXPECT_EQ(hr, S_OK) << m.name;
    EXPECT_EQ(fresh.calls.size(), 1u) << m.name;
  }
  RecordingControl control;
  Dispatcher dispatcher(&control);
  Variant result;
  EXPECT_EQ(dispatcher.Invoke(0xd, MemberKind::kMethod, {}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_TRUE(control.calls.empty());
}

}  // namespace
}  // namespace quillmark::com
