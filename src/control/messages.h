// The fixed messages that automation members leave in errMsg.
//
// Each member names the message of its failing step; the texts are the
// control's observable contract and live in one table (messages.cc) as UTF-8
// literals. MessageText gives the UTF-16 form stored in errMsg.
#ifndef QUILLMARK_CONTROL_MESSAGES_H_
#define QUILLMARK_CONTROL_MESSAGES_H_

#include <string>
#include <string_view>

namespace quillmark::control {

enum class Message {
  kNone,                      // no message: errMsg is left as it was
  kNoMemory,                  // 没有可用的内存空间
  kNoMemoryShort,             // 无可用内存空间 (the three text setters)
  kSourceEmpty,               // 源数据为空
  kDefaultDnRequired,         // 必须设置默认证书DN
  kDnEmpty,                   // DN为空
  kSetDnEmpty,                // 设置的DN数据为空
  kUserCancelled,             // 用户取消
  kNoStubPathKey,             // the CtlSettings registry key is missing
  kNoStubPathValue,           // the stubPath value is missing or unusable
  kBadInfoType,               // 类型错误，没有该类型的值
  kSeparatorNotSet,           // 未设置DN分隔符
  kSeparatorLimit,            // DN分隔符超限
  kCharsetConversion,         // 字符编码转换失败
  kConversion,                // 编码转换失败
  kDnTooLong,                 // DN太长
  kIssuerDnTooLong,           // IssuerDN太长
  kFileNameTooLong,           // 文件名超长
  kSetDnTooLong,              // 设置的DN数据太长
  kDnCheckFailed,             // DN验证失败
  kAlgorithmIdTooLong,        // 算法标识太长 (an OID that does not fit its field)
  kReadFileFailed,            // 读取文件失败
  kSaveFileFailed,            // 保存文件失败
  kTakeFormFailed,            // 取出表单失败
  kTakeFileFailed,            // 取出文件失败
  kAddFormFailed,             // 加入表单失败
  kAddFileFailed,             // 加入文件失败
  kPlaintextEncodeFailed,     // 带格式原文数据编码失败
  kNotFormatted,              // 不是约定原文，不可分解
  kSignFailed,                // 签名失败
  kVerifyFailed,              // 验证错误
  kEncryptFailed,             // 加密失败
  kMakeSignedEnvelopeFailed,  // 制作带签名的数字信封失败
  kOpenSignedEnvelopeFailed,  // 解密带签名的数字信封错误
  kDigestFailed,              // 摘要失败
  kBase64EncodeFailed,        // Base64编码失败
  kBase64DecodeFailed,        // Base64解码失败
  kExtensionFailed,           // 获取证书扩展失败
  kStoreOpenFailed,           // 打不开证书存储区
  kCount,
};

// The UTF-8 text of a message; empty for kNone.
std::string_view MessageUtf8(Message message);

// The UTF-16 text of a message, as errMsg holds it; empty for kNone.
std::u16string MessageText(Message message);

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_MESSAGES_H_
