#include "control/messages.h"

#include <array>
#include <cstddef>

#include "common/unicode.h"

namespace quillmark::control {

namespace {

struct Entry {
  Message message;
  std::string_view text;
};

// In enum order; the static_assert below keeps the two in step.
constexpr std::array<Entry, static_cast<std::size_t>(Message::kCount)> kMessages = {{
    {Message::kNone, ""},
    {Message::kNoMemory, "没有可用的内存空间"},
    {Message::kNoMemoryShort, "无可用内存空间"},
    {Message::kSourceEmpty, "源数据为空"},
    {Message::kDefaultDnRequired, "必须设置默认证书DN"},
    {Message::kDnEmpty, "DN为空"},
    {Message::kSetDnEmpty, "设置的DN数据为空"},
    {Message::kUserCancelled, "用户取消"},
    {Message::kNoStubPathKey, "找不到包含文件保存路径的注册表记录项!"},
    {Message::kNoStubPathValue, "在相应注册表记录项中找不到“stubPath”值域!"},
    {Message::kBadInfoType, "类型错误，没有该类型的值"},
    {Message::kSeparatorNotSet, "未设置DN分隔符"},
    {Message::kSeparatorLimit, "DN分隔符超限"},
    {Message::kCharsetConversion, "字符编码转换失败"},
    {Message::kConversion, "编码转换失败"},
    {Message::kDnTooLong, "DN太长"},
    {Message::kIssuerDnTooLong, "IssuerDN太长"},
    {Message::kFileNameTooLong, "文件名超长"},
    {Message::kSetDnTooLong, "设置的DN数据太长"},
    {Message::kDnCheckFailed, "DN验证失败"},
    {Message::kAlgorithmIdTooLong, "算法标识太长"},
    {Message::kReadFileFailed, "读取文件失败"},
    {Message::kSaveFileFailed, "保存文件失败"},
    {Message::kTakeFormFailed, "取出表单失败"},
    {Message::kTakeFileFailed, "取出文件失败"},
    {Message::kAddFormFailed, "加入表单失败"},
    {Message::kAddFileFailed, "加入文件失败"},
    {Message::kPlaintextEncodeFailed, "带格式原文数据编码失败"},
    {Message::kNotFormatted, "不是约定原文，不可分解"},
    {Message::kSignFailed, "签名失败"},
    {Message::kVerifyFailed, "验证错误"},
    {Message::kEncryptFailed, "加密失败"},
    {Message::kMakeSignedEnvelopeFailed, "制作带签名的数字信封失败"},
    {Message::kOpenSignedEnvelopeFailed, "解密带签名的数字信封错误"},
    {Message::kDigestFailed, "摘要失败"},
    {Message::kBase64EncodeFailed, "Base64编码失败"},
    {Message::kBase64DecodeFailed, "Base64解码失败"},
    {Message::kExtensionFailed, "获取证书扩展失败"},
    {Message::kStoreOpenFailed, "打不开证书存储区"},
}};

constexpr bool InEnumOrder() {
  for (std::size_t i = 0; i < kMessages.size(); ++i) {
    if (static_cast<std::size_t>(kMessages[i].message) != i) return false;
  }
  return true;
}
static_assert(InEnumOrder(), "kMessages must list every Message in enum order");

}  // namespace

std::string_view MessageUtf8(Message message) {
  auto index = static_cast<std::size_t>(message);
  return index < kMessages.size() ? kMessages[index].text : std::string_view();
}

std::u16string MessageText(Message message) { return Utf8ToUtf16Lossy(MessageUtf8(message)); }

}  // namespace quillmark::control
