// The type library: one static table of the 62 members of
// ILydraCorvaneQuillmark in interface order.
//
// Each row gives the DISPID, the name as scripts spell it, the kind (method,
// property get, property put), the parameters with their names, types and
// directions, the documentation string, what the member may do outside the
// control (its effects: use a private key, read or write a file, tell the
// caller about the machine), and the binding to the interface member. The
// effects are the one rule the front ends follow for callers they do not
// trust; a test calls every member and fails when one reaches a key, a file
// or the machine without saying so here. The dispatch layer, the IDL text and the JSON member list
// are all generated from this table; the table itself is checked at compile time against the C++
// signatures of the interface, and every row is bound to its member, so every member is built and
// the dispatch layer calls it.
#ifndef QUILLMARK_COM_TYPE_LIBRARY_H_
#define QUILLMARK_COM_TYPE_LIBRARY_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "com/variant.h"
#include "control/quillmark_interface.h"

namespace quillmark::com {

using ::quillmark::control::HRESULT;
using ::quillmark::control::ILydraCorvaneQuillmark;

enum class MemberKind : std::uint8_t { kMethod, kPropGet, kPropPut };
enum class ParamType : std::uint8_t { kString, kInt32, kUInt32 };
// kNone: declared without a direction flag; passed in like kIn.
enum class ParamDir : std::uint8_t { kIn, kOutRetval, kNone };

// "method", "propget", "propput".
std::string_view MemberKindName(MemberKind kind);
// "string", "int32", "uint32".
std::string_view ParamTypeName(ParamType type);
// "in", "out,retval", "none".
std::string_view ParamDirName(ParamDir dir);

// What a member may do beyond the control's own state, as a set of bits.
using MemberEffects = std::uint8_t;
inline constexpr MemberEffects kNoEffects = 0;
inline constexpr MemberEffects kUsesKey = 1 << 0;         // signs or decrypts with a private key
inline constexpr MemberEffects kReadsFile = 1 << 1;       // reads a file the caller names or picks
inline constexpr MemberEffects kWritesFile = 1 << 2;      // writes a file
inline constexpr MemberEffects kRevealsMachine = 1 << 3;  // tells the caller about the machine

// The names of the bits of |effects| in bit order: "key", "readFile",
// "writeFile", "machine".
std::vector<std::string_view> MemberEffectNames(MemberEffects effects);

struct ParamInfo {
  std::string_view name;
  ParamType type = ParamType::kString;
  ParamDir dir = ParamDir::kIn;
};

// Calls one interface member on |object|. |args| are the in parameters in
// order, already coerced to their ParamType; the out value, when the member
// has one and returned a success status, goes to |*result|.
using MemberInvoker = HRESULT (*)(ILydraCorvaneQuillmark& object, std::span<const Variant> args,
                                  Variant* result);

inline constexpr std::size_t kMaxParams = 8;

struct MemberInfo {
  std::int32_t dispid = 0;
  std::string_view name;
  MemberKind kind = MemberKind::kMethod;
  std::array<ParamInfo, kMaxParams> param_storage{};
  std::size_t param_count = 0;
  std::string_view doc;  // UTF-8
  MemberInvoker invoke = nullptr;
  MemberEffects effects = kNoEffects;

  bool has(MemberEffects effect) const { return (effects & effect) == effect; }
  std::span<const ParamInfo> params() const { return {param_storage.data(), param_count}; }
  // Parameters the caller passes (kIn and kNone).
  std::size_t in_count() const;
  // The out, retval parameter, or null.
  const ParamInfo* result_param() const;
  // True when the row is bound to its interface member, so that the dispatch
  // layer reaches it ("built" in the JSON member list). Every row of the
  // table is made by binding its member, so every row is built.
  bool built() const { return invoke != nullptr; }
};

inline constexpr std::size_t kMemberCount = 62;

// All rows in interface order.
std::span<const MemberInfo> TypeLibraryMembers();

// The rows with every bit of |effect|, in interface order.
std::vector<const MemberInfo*> MembersWith(MemberEffects effect);
// The rows that use a private key: what needs the user's word for a web page.
inline std::vector<const MemberInfo*> MembersUsingKey() { return MembersWith(kUsesKey); }

// The row with |dispid| and |kind|, or null.
const MemberInfo* FindMember(std::int32_t dispid, MemberKind kind);

// Generated texts: the library as IDL, and {"members":[...]} with one object
// per row in interface order (one line, no trailing newline).
std::string TypeLibraryIdl();
std::string TypeLibraryJson();

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_TYPE_LIBRARY_H_
