#include "com/dispatch.h"

#include <vector>

namespace quillmark::com {

using ::quillmark::control::DISP_E_BADPARAMCOUNT;
using ::quillmark::control::DISP_E_MEMBERNOTFOUND;
using ::quillmark::control::DISP_E_TYPEMISMATCH;
using ::quillmark::control::DISP_E_UNKNOWNNAME;
using ::quillmark::control::HRESULT;
using ::quillmark::control::S_OK;
namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c; }

bool NamesEqual(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

HRESULT Coerce(const Variant& in, ParamType type, Variant* out) {
  switch (type) {
    case ParamType::kString: {
      std::u16string text;
      HRESULT hr = CoerceToString(in, &text);
      if (hr == S_OK) *out = Variant(std::move(text));
      return hr;
    }
    case ParamType::kInt32: {
      std::int32_t value = 0;
      HRESULT hr = CoerceToInt32(in, &value);
      if (hr == S_OK) *out = Variant(value);
      return hr;
    }
    case ParamType::kUInt32: {
      std::uint32_t value = 0;
      HRESULT hr = CoerceToUInt32(in, &value);
      if (hr == S_OK) *out = Variant(value);
      return hr;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

}  // namespace

HRESULT Dispatcher::GetIDsOfNames(std::u16string_view name, std::int32_t* dispid) {
  for (const MemberInfo& m : TypeLibraryMembers()) {
    if (NamesEqual(name, m.name)) {
      *dispid = m.dispid;
      return S_OK;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT Dispatcher::Invoke(std::int32_t dispid, MemberKind kind, std::span<const Variant> args,
                           Variant* result, std::uint32_t* arg_error) {
  *result = Variant();
  const MemberInfo* member = FindMember(dispid, kind);
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
  if (args.size() != member->in_count()) return DISP_E_BADPARAMCOUNT;
  std::vector<Variant> coerced(args.size());
  std::size_t index = 0;
  for (const ParamInfo& p : member->params()) {
    if (p.dir == ParamDir::kOutRetval) continue;
    HRESULT hr = Coerce(args[index], p.type, &coerced[index]);
    if (hr != S_OK) {
      if (arg_error != nullptr) *arg_error = static_cast<std::uint32_t>(index);
      return hr;
    }
    ++index;
  }
  return member->invoke(*object_, coerced, result);
}

}  // namespace quillmark::com
