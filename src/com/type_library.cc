#include "com/type_library.h"

#include <initializer_list>
#include <tuple>
#include <type_traits>
#include <utility>

namespace quillmark::com {

using ::quillmark::control::HRESULT;
using ::quillmark::control::ILydraCorvaneQuillmark;
namespace {

using I = ILydraCorvaneQuillmark;

// ---- Binding a row to its interface member -------------------------------

// What one C++ parameter of an interface member is, in table terms.
template <typename T>
struct ParamOf;
template <>
struct ParamOf<std::u16string_view> {
  static constexpr ParamType kType = ParamType::kString;
  static constexpr bool kOut = false;
};
template <>
struct ParamOf<std::int32_t> {
  static constexpr ParamType kType = ParamType::kInt32;
  static constexpr bool kOut = false;
};
template <>
struct ParamOf<std::uint32_t> {
  static constexpr ParamType kType = ParamType::kUInt32;
  static constexpr bool kOut = false;
};
template <>
struct ParamOf<std::u16string*> {
  static constexpr ParamType kType = ParamType::kString;
  static constexpr bool kOut = true;
};
template <>
struct ParamOf<std::int32_t*> {
  static constexpr ParamType kType = ParamType::kInt32;
  static constexpr bool kOut = true;
};
template <>
struct ParamOf<std::uint32_t*> {
  static constexpr ParamType kType = ParamType::kUInt32;
  static constexpr bool kOut = true;
};

struct SignatureParam {
  ParamType type;
  bool out;
};

template <typename M>
struct MemberTraits;
template <typename... A>
struct MemberTraits<HRESULT (I::*)(A...)> {
  static constexpr std::array<SignatureParam, sizeof...(A)> kParams = {
      SignatureParam{ParamOf<A>::kType, ParamOf<A>::kOut}...};
};

// The storage of a member's out parameter during a call.
struct OutSlot {
  std::u16string text;
  std::int32_t int32 = 0;
  std::uint32_t uint32 = 0;
};

template <typename A>
A Argument(std::span<const Variant> args, std::size_t index, OutSlot* out) {
  if constexpr (std::is_same_v<A, std::u16string_view>) {
    return args[index].string();
  } else if constexpr (std::is_same_v<A, std::int32_t>) {
    return args[index].int32();
  } else if constexpr (std::is_same_v<A, std::uint32_t>) {
    return args[index].uint32();
  } else if constexpr (std::is_same_v<A, std::u16string*>) {
    return &out->text;
  } else if constexpr (std::is_same_v<A, std::int32_t*>) {
    return &out->int32;
  } else {
    static_assert(std::is_same_v<A, std::uint32_t*>);
    return &out->uint32;
  }
}

template <typename A>
void StoreResult(const OutSlot& out, Variant* result) {
  if constexpr (std::is_same_v<A, std::u16string*>) {
    *result = Variant(out.text);
  } else if constexpr (std::is_same_v<A, std::int32_t*>) {
    *result = Variant(out.int32);
  } else if constexpr (std::is_same_v<A, std::uint32_t*>) {
    *result = Variant(out.uint32);
  }
}

template <typename... A, std::size_t... N>
HRESULT CallMember(I& object, HRESULT (I::*member)(A...), std::span<const Variant> args,
                   Variant* result, std::index_sequence<N...>) {
  // The table's parameter order puts the out parameter last, so the in
  // arguments line up with the C++ parameters by index.
  OutSlot out;
  HRESULT hr = (object.*member)(Argument<A>(args, N, &out)...);
  if (hr >= 0) (StoreResult<A>(out, result), ...);
  return hr;
}

template <auto Member>
HRESULT Invoke(I& object, std::span<const Variant> args, Variant* result) {
  return CallMember(object, Member, args, result,
                    std::make_index_sequence<MemberTraits<decltype(Member)>::kParams.size()>());
}

// ---- Rows --------------------------------------------------------------

constexpr ParamInfo In(std::string_view name, ParamType type = ParamType::kString) {
  return {name, type, ParamDir::kIn};
}
constexpr ParamInfo NoDir(std::string_view name) {
  return {name, ParamType::kString, ParamDir::kNone};
}
constexpr ParamInfo Out(std::string_view name, ParamType type = ParamType::kString) {
  return {name, type, ParamDir::kOutRetval};
}

constexpr ParamType kI32 = ParamType::kInt32;
constexpr ParamType kU32 = ParamType::kUInt32;
constexpr MemberKind kMethod = MemberKind::kMethod;
constexpr MemberKind kGet = MemberKind::kPropGet;
constexpr MemberKind kPut = MemberKind::kPropPut;
constexpr MemberEffects kKey = kUsesKey;

// A row, checked against the C++ member it binds: the same number of
// parameters, the same types, the out parameter (at most one) last. A
// mismatch stops the build here.
template <auto Member>
consteval MemberInfo Row(std::int32_t dispid, std::string_view name, MemberKind kind,
                         std::initializer_list<ParamInfo> params, std::string_view doc,
                         MemberEffects effects = kNoEffects) {
  constexpr auto& signature = MemberTraits<decltype(Member)>::kParams;
  if (params.size() != signature.size() || params.size() > kMaxParams) {
    throw "parameter count differs from the interface member";
  }
  MemberInfo row;
  row.dispid = dispid;
  row.name = name;
  row.kind = kind;
  row.doc = doc;
  row.invoke = &Invoke<Member>;
  row.effects = effects;
  std::size_t i = 0;
  for (const ParamInfo& p : params) {
    bool out = p.dir == ParamDir::kOutRetval;
    if (p.type != signature[i].type || out != signature[i].out) {
      throw "parameter type or direction differs from the interface member";
    }
    if (out && i + 1 != params.size()) throw "the out parameter must come last";
    if (kind == kGet && !out) throw "a property get has only its out parameter";
    if (kind == kPut && out) throw "a property put has no out parameter";
    row.param_storage[i++] = p;
  }
  row.param_count = params.size();
  return row;
}

constexpr MemberInfo kMembers[] = {
    Row<&I::put_DNspliter>(0x1, "DNspliter", kPut, {In("value")}, "property DNspliter"),
    Row<&I::get_errMsg>(0x2, "errMsg", kGet, {Out("pVal")}, "property errMsg"),
    Row<&I::get_errorNum>(0x3, "errorNum", kGet, {Out("pVal", kI32)}, "property errorNum"),
    Row<&I::get_MaxCompSize>(0x4, "MaxCompSize", kGet, {Out("pVal", kI32)}, "property MaxCompSize"),
    Row<&I::put_MaxCompSize>(0x4, "MaxCompSize", kPut, {In("value", kI32)}, "property MaxCompSize"),
    Row<&I::put_QMServerMode>(0x6, "QMServerMode", kPut, {In("value", kI32)},
                              "property QMServerMode"),
    Row<&I::getVersion>(0x7, "getVersion", kMethod, {Out("pVersion")}, "method getVersion"),
    Row<&I::QMAddFile>(0x8, "QMAddFile", kMethod, {In("fileName")}, "method QMAddFile", kReadsFile),
    Row<&I::QMAddFormItem>(0x9, "QMAddFormItem", kMethod, {In("itemContent")},
                           "method QMAddFormItem"),
    Row<&I::QMAttachedSign>(0xa, "QMAttachedSign", kMethod, {In("deSignerDN"), Out("pVal")},
                            "method QMAttachedSign", kKey),
    Row<&I::QMAttachedVerify>(0xb, "QMAttachedVerify", kMethod, {In("signedMsg")},
                              "method QMAttachedVerify"),
    Row<&I::QMBase64Decode>(0xc, "QMBase64Decode", kMethod,
                            {In("base64ToBeDecodedText"), Out("pVal")}, "method QMBase64Decode"),
    Row<&I::QMBase64Encode>(0xd, "QMBase64Encode", kMethod,
                            {In("base64ToBeEncodedText"), Out("pVal")}, "method QMBase64Encode"),
    Row<&I::QMDecryptedAndVerifiedEnvelop>(0xe, "QMDecryptedAndVerifiedEnvelop", kMethod,
                                           {In("signedAndEnvelopedMsg")},
                                           "method QMDecryptedAndVerifiedEnvelop", kKey),
    Row<&I::QMDecryptEnvelop>(0xf, "QMDecryptEnvelop", kMethod, {In("envelopedMsg")},
                              "method QMDecryptEnvelop", kKey),
    Row<&I::QMDetachedSign>(0x10, "QMDetachedSign", kMethod,
                            {In("plainText"), In("deSignerDN"), Out("pVal")},
                            "method QMDetachedSign", kKey),
    Row<&I::QMDetachedVerify>(0x11, "QMDetachedVerify", kMethod, {In("signedMsg"), In("plainText")},
                              "method QMDetachedVerify"),
    Row<&I::QMEncryptedEnvelop>(0x12, "QMEncryptedEnvelop", kMethod,
                                {In("deReciptDN"), Out("pVal")}, "method QMEncryptedEnvelop"),
    Row<&I::QMGetFile>(0x13, "QMGetFile", kMethod, {Out("pVal")}, "method QMGetFile", kWritesFile),
    Row<&I::QMGetFormItem>(0x14, "QMGetFormItem", kMethod, {Out("pVal")}, "method QMGetFormItem"),
    Row<&I::QMGetPlainText>(0x15, "QMGetPlainText", kMethod, {Out("pVal")},
                            "method QMGetPlainText"),
    Row<&I::QMGetReciptCertInfo>(0x16, "QMGetReciptCertInfo", kMethod,
                                 {In("type", kU32), Out("pVal")}, "method QMGetReciptCertInfo"),
    Row<&I::QMGetSignerCertInfo>(0x17, "QMGetSignerCertInfo", kMethod,
                                 {In("type", kU32), Out("pVal")}, "method QMGetSignerCertInfo"),
    Row<&I::QMHashAndBase64Encode>(0x18, "QMHashAndBase64Encode", kMethod,
                                   {In("plainText"), Out("pVal")}, "method QMHashAndBase64Encode"),
    Row<&I::QMRawSign>(0x19, "QMRawSign", kMethod, {In("deSignerDN"), Out("pVal")},
                       "method QMRawSign", kKey),
    Row<&I::QMRawVerify>(0x1a, "QMRawVerify", kMethod,
                         {In("signedMsg"), In("deSignerDN"), In("plainText")},
                         "method QMRawVerify"),
    Row<&I::QMSetPlainText>(0x1b, "QMSetPlainText", kMethod, {In("plainText")},
                            "method QMSetPlainText"),
    Row<&I::QMSignedAndEncryptedEnvelop>(0x1c, "QMSignedAndEncryptedEnvelop", kMethod,
                                         {In("deSignerDN"), In("deReciptDN"), Out("pVal")},
                                         "method QMSignedAndEncryptedEnvelop", kKey),
    Row<&I::QMAfterwardsVerify>(0x1d, "QMAfterwardsVerify", kMethod, {In("signedMsg")},
                                "method QMAfterwardsVerify"),
    Row<&I::QMGetCertExtension>(0x1e, "QMGetCertExtension", kMethod,
                                {In("certDN"), In("szOID"), Out("pVal")},
                                "method QMGetCertExtension"),
    Row<&I::QMSetDigestArithmetic>(0x1f, "QMSetDigestArithmetic", kMethod, {In("ArithmeticID")},
                                   "method QMSetDigestArithmetic"),
    Row<&I::QMSetSymmetryArithmetic>(0x20, "QMSetSymmetryArithmetic", kMethod, {In("ArithmeticID")},
                                     "method QMSetSymmetryArithmetic"),
    Row<&I::IsCertExists>(0x21, "IsCertExists", kMethod, {In("DN"), Out("pdwRet", kU32)},
                          "method IsCertExists"),
    Row<&I::QMAttachedSignByIssuerSN>(0x22, "QMAttachedSignByIssuerSN", kMethod,
                                      {In("deSignerSN"), In("IssuerDN"), Out("pVal")},
                                      "method QMAttachedSignByIssuerSN", kKey),
    Row<&I::QMAttachedSignBySN>(0x23, "QMAttachedSignBySN", kMethod,
                                {In("deSignerSN"), Out("pVal")}, "method QMAttachedSignBySN", kKey),
    Row<&I::QMDetachedSignByIssuerSN>(
        0x24, "QMDetachedSignByIssuerSN", kMethod,
        {In("plainText"), In("deSignerSN"), In("IssuerDN"), Out("pVal")},
        "method QMDetachedSignByIssuerSN", kKey),
    Row<&I::QMDetachedSignBySN>(0x25, "QMDetachedSignBySN", kMethod,
                                {In("plainText"), In("deSignerSN"), Out("pVal")},
                                "method QMDetachedSignBySN", kKey),
    Row<&I::QMEnumCertsDNByIssers>(0x26, "QMEnumCertsDNByIssers", kMethod,
                                   {In("IssersDN"), Out("CertsDN")},
                                   "method QMEnumCertsDNByIssers"),
    Row<&I::get_errorCode>(0x27, "errorCode", kGet, {Out("pVal", kI32)}, "property errorCode"),
    Row<&I::QMAttachedVerifySignedFile>(0x28, "QMAttachedVerifySignedFile", kMethod,
                                        {In("fileName")}, "method QMAttachedVerifySignedFile",
                                        kReadsFile | kWritesFile),
    Row<&I::QMUseKeySpecAttachedSign>(0x29, "QMUseKeySpecAttachedSign", kMethod,
                                      {In("deSignerDN"), Out("pVal")},
                                      "method QMUseKeySpecAttachedSign", kKey),
    Row<&I::QMUseKeySpecDetachedSign>(0x2a, "QMUseKeySpecDetachedSign", kMethod,
                                      {In("plainText"), In("deSignerDN"), Out("pVal")},
                                      "method QMUseKeySpecDetachedSign", kKey),
    Row<&I::QMUseKeySpecRawSign>(0x2b, "QMUseKeySpecRawSign", kMethod,
                                 {In("deSignerDN"), Out("pVal")}, "method QMUseKeySpecRawSign",
                                 kKey),
    Row<&I::QMUseKeySpecAttachedSignByIssuerSN>(0x2c, "QMUseKeySpecAttachedSignByIssuerSN", kMethod,
                                                {In("deSignerSN"), In("IssuerDN"), Out("pVal")},
                                                "method QMUseKeySpecAttachedSignByIssuerSN", kKey),
    Row<&I::QMUseKeySpecAttachedSignBySN>(0x2d, "QMUseKeySpecAttachedSignBySN", kMethod,
                                          {In("deSignerSN"), Out("pVal")},
                                          "method QMUseKeySpecAttachedSignBySN", kKey),
    Row<&I::QMUseKeySpecDetachedSignByIssuerSN>(
        0x2e, "QMUseKeySpecDetachedSignByIssuerSN", kMethod,
        {In("plainText"), In("deSignerSN"), In("IssuerDN"), Out("pVal")},
        "method QMUseKeySpecDetachedSignByIssuerSN", kKey),
    Row<&I::QMUseKeySpecDetachedSignBySN>(0x2f, "QMUseKeySpecDetachedSignBySN", kMethod,
                                          {In("plainText"), In("deSignerSN"), Out("pVal")},
                                          "method QMUseKeySpecDetachedSignBySN", kKey),
    Row<&I::QMUseKeySpecSignedAndEncryptedEnvelop>(
        0x30, "QMUseKeySpecSignedAndEncryptedEnvelop", kMethod,
        {In("deSignerDN"), In("deReciptDN"), Out("pVal")},
        "method QMUseKeySpecSignedAndEncryptedEnvelop", kKey),
    Row<&I::QMSetCodePage>(0x31, "QMSetCodePage", kMethod, {In("codepage", kU32)},
                           "method QMSetCodePage"),
    Row<&I::QMAddFileForEncrypt>(0x32, "QMAddFileForEncrypt", kMethod, {In("fileName")},
                                 "method QMAddFileForEncrypt", kReadsFile),
    Row<&I::QMEncryptFileAndSave>(0x33, "QMEncryptFileAndSave", kMethod, {In("base64Certificate")},
                                  "method QMEncryptFileAndSave", kWritesFile),
    Row<&I::QMSetCopyRightInfo>(0x34, "QMSetCopyRightInfo", kMethod, {In("pInfo")},
                                "method QMSetCopyRightInfo"),
    Row<&I::QMSetDialogPrompt>(
        0x35, "QMSetDialogPrompt", kMethod,
        {In("dlgtitle"), In("dlgprompt"), In("certsubject"), In("certissuer"), In("notafter"),
         In("OKbutton"), In("Cancelbutton"), In("Viewbutton")},
        "method QMSetDialogPrompt"),
    // The members below were added later; their documentation strings are
    // the Chinese words for method (方法) and property (属性).
    Row<&I::QMAdvanceAttachedSign>(0x36, "QMAdvanceAttachedSign", kMethod,
                                   {NoDir("deSignerDN"), Out("pVal")}, "方法QMAdvanceAttachedSign",
                                   kKey),
    Row<&I::QMAdvanceAttachedVerify>(0x37, "QMAdvanceAttachedVerify", kMethod, {NoDir("signedMsg")},
                                     "方法QMAdvanceAttachedVerify"),
    Row<&I::QMUseSpecAdvanceAttachedSign>(0x38, "QMUseSpecAdvanceAttachedSign", kMethod,
                                          {NoDir("deSignerDN"), Out("pVal")},
                                          "方法QMUseSpecAdvanceAttachedSign", kKey),
    Row<&I::QMAdvanceDetachedSign>(0x39, "QMAdvanceDetachedSign", kMethod,
                                   {In("plainText"), In("deSignerDN"), Out("pVal")},
                                   "方法QMAdvanceDetachedSign", kKey),
    Row<&I::QMUseSpecAdvanceDetachedSign>(0x3a, "QMUseSpecAdvanceDetachedSign", kMethod,
                                          {In("plainText"), In("deSignerDN"), Out("pVal")},
                                          "方法QMUseSpecAdvanceDetachedSign", kKey),
    Row<&I::QMAdvanceDetachedVerify>(0x3b, "QMAdvanceDetachedVerify", kMethod,
                                     {In("signedMsg"), In("plainText")},
                                     "方法QMAdvanceDetachedVerify"),
    Row<&I::put_QMSignMode>(0x3c, "QMSignMode", kPut, {In("value", kI32)}, "属性QMSignMode"),
    Row<&I::QMSetSM2CertStoreName>(0x3d, "QMSetSM2CertStoreName", kMethod, {In("pStoreName")},
                                   "方法QMSetSM2CertStoreName"),
    Row<&I::GetMac>(0x3e, "GetMac", kMethod, {Out("pVal")}, "方法GetMac", kRevealsMachine),
};

static_assert(std::size(kMembers) == kMemberCount);

consteval bool DispidsAscendAndPairsAreUnique() {
  for (std::size_t i = 1; i < std::size(kMembers); ++i) {
    if (kMembers[i].dispid < kMembers[i - 1].dispid) return false;
    if (kMembers[i].dispid == kMembers[i - 1].dispid &&
        (kMembers[i].kind == kMembers[i - 1].kind || kMembers[i].name != kMembers[i - 1].name)) {
      return false;
    }
  }
  return true;
}
static_assert(DispidsAscendAndPairsAreUnique());

}  // namespace

std::string_view MemberKindName(MemberKind kind) {
  switch (kind) {
    case MemberKind::kMethod:
      return "method";
    case MemberKind::kPropGet:
      return "propget";
    case MemberKind::kPropPut:
      return "propput";
  }
  return "";
}

std::string_view ParamTypeName(ParamType type) {
  switch (type) {
    case ParamType::kString:
      return "string";
    case ParamType::kInt32:
      return "int32";
    case ParamType::kUInt32:
      return "uint32";
  }
  return "";
}

std::string_view ParamDirName(ParamDir dir) {
  switch (dir) {
    case ParamDir::kIn:
      return "in";
    case ParamDir::kOutRetval:
      return "out,retval";
    case ParamDir::kNone:
      return "none";
  }
  return "";
}

std::vector<std::string_view> MemberEffectNames(MemberEffects effects) {
  static constexpr std::pair<MemberEffects, std::string_view> kNames[] = {
      {kUsesKey, "key"},
      {kReadsFile, "readFile"},
      {kWritesFile, "writeFile"},
      {kRevealsMachine, "machine"},
  };
  std::vector<std::string_view> names;
  for (const auto& [bit, name] : kNames) {
    if ((effects & bit) != 0) names.push_back(name);
  }
  return names;
}

std::vector<const MemberInfo*> MembersWith(MemberEffects effect) {
  std::vector<const MemberInfo*> rows;
  for (const MemberInfo& m : kMembers) {
    if (m.has(effect)) rows.push_back(&m);
  }
  return rows;
}

std::size_t MemberInfo::in_count() const {
  std::size_t n = 0;
  for (const ParamInfo& p : params()) {
    if (p.dir != ParamDir::kOutRetval) ++n;
  }
  return n;
}

const ParamInfo* MemberInfo::result_param() const {
  for (const ParamInfo& p : params()) {
    if (p.dir == ParamDir::kOutRetval) return &p;
  }
  return nullptr;
}

std::span<const MemberInfo> TypeLibraryMembers() { return kMembers; }

const MemberInfo* FindMember(std::int32_t dispid, MemberKind kind) {
  for (const MemberInfo& m : kMembers) {
    if (m.dispid == dispid && m.kind == kind) return &m;
  }
  return nullptr;
}

}  // namespace quillmark::com
