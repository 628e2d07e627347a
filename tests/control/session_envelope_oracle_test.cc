// Opening an envelope whose wrapped content key was tampered with, through a
// live `quillmark session`: a wrapping with bad PKCS#1 padding and one holding
// a key of the wrong length must answer exactly as one holding a wrong key of
// the right length (the same errorNum and errorCode, and with RC4, which
// cannot tell a wrong key, the same kind of success), so the answer tells a
// sender nothing about the RSA value it sent.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/json.h"
#include "common/unicode.h"
#include "encoding/base64.h"
#include "platform/openssl/openssl_ptr.h"
#include "support/demo_pki_session.h"
#include "support/live_session.h"
#include "support/session_answers.h"

namespace quillmark::control {
namespace {

namespace ossl = ::quillmark::platform::ossl;
using json::Value;
using testing::LiveSession;
using testing::Result;

const std::u16string kZhang = u"CN=张三, OU=Personal, O=Demo Bank, C=CN";
constexpr char kOpenFailed[] = "解密带签名的数字信封错误";
constexpr std::int64_t kNteBadData = -2146893819;      // 0x80090005
constexpr std::int64_t kCryptEOssError = -2146881536;  // 0x80093000
constexpr std::u16string_view kAes128Cbc = u"2.16.840.1.101.3.4.1.2";
constexpr std::u16string_view kRc4 = u"1.2.840.113549.3.4";

Bytes Decode(const std::u16string& text) {
  Bytes der;
  EXPECT_EQ(encoding::Base64Decode(AsBytes(Utf16ToUtf8Lossy(text)), &der), 0);
  return der;
}

std::u16string Encode(ByteSpan der) {
  Bytes text;
  EXPECT_EQ(encoding::Base64Encode(der, &text), 0);
  return Utf8ToUtf16Lossy(AsChars(text));
}

ossl::Pkcs7Ptr ParsePkcs7(const Bytes& der) {
  const unsigned char* p = der.data();
  return ossl::Pkcs7Ptr(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
}

// |block| encrypted to |key| with |padding| (RSA_PKCS1_PADDING or
// RSA_NO_PADDING, for which |block| is the whole modulus-sized value).
Bytes RsaEncrypt(EVP_PKEY* key, const Bytes& block, int padding) {
  ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  std::size_t len = 0;
  EXPECT_TRUE(ctx != nullptr && EVP_PKEY_encrypt_init(ctx.get()) > 0 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) > 0 &&
              EVP_PKEY_encrypt(ctx.get(), nullptr, &len, block.data(), block.size()) > 0);
  Bytes out(len);
  EXPECT_GT(EVP_PKEY_encrypt(ctx.get(), out.data(), &len, block.data(), block.size()), 0);
  out.resize(len);
  return out;
}

// Whether AES-128-CBC decryption of |data| under |key| and |iv| ends in
// valid padding.
bool AesCbcPaddingValid(const Bytes& key, ByteSpan iv, ByteSpan data) {
  ossl::CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  Bytes out(data.size() + 16);
  int n = 0, m = 0;
  return EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) == 1 &&
         EVP_DecryptUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) ==
             1 &&
         EVP_DecryptFinal_ex(ctx.get(), out.data() + n, &m) == 1;
}

class SessionEnvelopeOracleTest : public testing::DemoPkiSessionTest {
 protected:
  // 张三's public key.
  static ossl::PkeyPtr RecipientKey() {
    const Bytes der =
        FileBytes(home_->path() + "/stores/MY/" + Item("MY", kZhang).thumbprint + ".cer");
    const unsigned char* p = der.data();
    ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    EXPECT_NE(cert, nullptr);
    return ossl::PkeyPtr(X509_get_pubkey(cert.get()));
  }

  // The tamperings of |envelope|'s wrapped key, in order: bad padding, a
  // 5-byte key, and a wrong key of the cipher's length |key_len| (for AES
  // one under which the content does not decrypt).
  static std::vector<std::u16string> Tampered(const std::u16string& envelope, bool aes,
                                              std::size_t key_len) {
    ossl::PkeyPtr key = RecipientKey();
    const std::size_t modulus = static_cast<std::size_t>(EVP_PKEY_get_size(key.get()));
    // Block type 1 where key transport needs 2: valid RSA, invalid padding.
    Bytes bad_padding(modulus, 0xFF);
    bad_padding[0] = 0x00;
    bad_padding[1] = 0x01;
    bad_padding[modulus - 17] = 0x00;
    std::vector<Bytes> wrappings = {RsaEncrypt(key.get(), bad_padding, RSA_NO_PADDING),
                                    RsaEncrypt(key.get(), Bytes(5, 0x42), RSA_PKCS1_PADDING)};
    Bytes wrong(key_len, 0x5A);
    if (aes) {
      ossl::Pkcs7Ptr p7 = ParsePkcs7(Decode(envelope));
      PKCS7_ENC_CONTENT* ec = p7->d.enveloped->enc_data;
      int type = 0;
      const void* value = nullptr;
      X509_ALGOR_get0(nullptr, &type, &value, ec->algorithm);
      const auto* iv = static_cast<const ASN1_OCTET_STRING*>(value);
      ByteSpan iv_bytes(ASN1_STRING_get0_data(iv),
                        static_cast<std::size_t>(ASN1_STRING_length(iv)));
      ByteSpan data(ASN1_STRING_get0_data(ec->enc_data),
                    static_cast<std::size_t>(ASN1_STRING_length(ec->enc_data)));
      for (std::uint8_t b = 1; b != 0; ++b) {
        wrong.assign(key_len, b);
        if (!AesCbcPaddingValid(wrong, iv_bytes, data)) break;
      }
    }
    wrappings.push_back(RsaEncrypt(key.get(), wrong, RSA_PKCS1_PADDING));
    std::vector<std::u16string> out;
    for (const Bytes& wrapped : wrappings) {
      ossl::Pkcs7Ptr p7 = ParsePkcs7(Decode(envelope));
      PKCS7_RECIP_INFO* ri = sk_PKCS7_RECIP_INFO_value(p7->d.enveloped->recipientinfo, 0);
      EXPECT_EQ(
          ASN1_OCTET_STRING_set(ri->enc_key, wrapped.data(), static_cast<int>(wrapped.size())), 1);
      unsigned char* der = nullptr;
      const int len = i2d_PKCS7(p7.get(), &der);
      EXPECT_GT(len, 0);
      out.push_back(Encode(ByteSpan(der, static_cast<std::size_t>(len))));
      OPENSSL_free(der);
    }
    return out;
  }
};

struct Outcome {
  std::int64_t hr = 0;
  std::int64_t error_num = 0;
  std::int64_t error_code = 0;
};

// A success leaves errorCode as the call before it set it, so only a
// failure's code is the call's own.
Outcome OutcomeOf(const Value& answer) {
  const std::int64_t num = answer.Find(u"errorNum")->integer();
  return {answer.Find(u"hr")->integer(), num, num != 0 ? answer.Find(u"errorCode")->integer() : 0};
}

bool operator==(const Outcome& a, const Outcome& b) {
  return a.hr == b.hr && a.error_num == b.error_num && a.error_code == b.error_code;
}

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "{hr " << o.hr << ", errorNum " << o.error_num << ", errorCode " << o.error_code << "}";
}

TEST_F(SessionEnvelopeOracleTest, BadWrappingsAnswerAsAWrongKeyDoes) {
  LiveSession s = Start();
  struct Case {
    std::u16string_view oid;
    bool aes;
    std::size_t key_len;
  };
  for (const Case& c : {Case{kAes128Cbc, true, 16}, Case{kRc4, false, 16}}) {
    SCOPED_TRACE(Utf16ToUtf8Lossy(c.oid));
    EXPECT_ANSWER(s.Call("QMSetSymmetryArithmetic", {std::u16string(c.oid)}), 0, 0);
    s.Call("QMSetPlainText", {u"transfer 100"});
    const std::u16string envelope = Result(s.Call("QMEncryptedEnvelop", {u"CN=张三"}));
    s.Call("QMSetPlainText", {u"signed transfer 100"});
    const std::u16string signed_envelope =
        Result(s.Call("QMSignedAndEncryptedEnvelop", {u"CN=Li Si", u"CN=张三"}));
    ASSERT_FALSE(envelope.empty());
    ASSERT_FALSE(signed_envelope.empty());

    // Untouched, both open.
    EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {envelope}), 0, 0);
    EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"transfer 100");
    EXPECT_ANSWER(s.Call("QMDecryptedAndVerifiedEnvelop", {signed_envelope}), 0, 0);
    EXPECT_EQ(Result(s.Call("QMGetPlainText")), u"signed transfer 100");

    const std::vector<std::u16string> plain = Tampered(envelope, c.aes, c.key_len);
    const std::vector<std::u16string> sealed = Tampered(signed_envelope, c.aes, c.key_len);
    ASSERT_EQ(plain.size(), 3u);
    // The last tampering is the wrong key: what every other one must match.
    const Outcome wrong_key = OutcomeOf(s.Call("QMDecryptEnvelop", {plain.back()}));
    const Outcome wrong_key_sealed =
        OutcomeOf(s.Call("QMDecryptedAndVerifiedEnvelop", {sealed.back()}));
    // A block cipher's padding fits a wrong key one time in about 256: the
    // envelope then "opens" to bytes that are not the text, and a signed
    // envelope's inner message does not decode.
    const Outcome bad_padding{1, -10023, kNteBadData};
    const Outcome inner_undecodable{1, -10007, kCryptEOssError};
    if (c.aes) {
      EXPECT_TRUE(wrong_key == bad_padding || wrong_key.error_num == 0);
      EXPECT_TRUE(wrong_key_sealed == bad_padding || wrong_key_sealed == inner_undecodable);
    } else {
      // RC4 cannot tell a wrong key: the envelope "opens" to other bytes.
      EXPECT_EQ(wrong_key, (Outcome{0, 0, 0}));
    }
    EXPECT_NE(wrong_key_sealed.error_num, 0);
    for (std::size_t i = 0; i + 1 < plain.size(); ++i) {
      SCOPED_TRACE(i);
      const Value opened = s.Call("QMDecryptEnvelop", {plain[i]});
      const Outcome got = OutcomeOf(opened);
      // A block cipher's padding fits a substituted key one time in about
      // 256, exactly as it fits a wrong key: then the bytes are not the text.
      if (c.aes) {
        EXPECT_TRUE(got == bad_padding || got.error_num == 0);
      } else {
        EXPECT_EQ(got, wrong_key);
      }
      if (got.error_num == 0) {
        // Opened twice, the same bytes, as a wrong key gives.
        const std::u16string first = Result(s.Call("QMGetPlainText"));
        EXPECT_NE(first, u"transfer 100");
        EXPECT_EQ(OutcomeOf(s.Call("QMDecryptEnvelop", {plain[i]})), got);
        EXPECT_EQ(Result(s.Call("QMGetPlainText")), first);
      } else {
        EXPECT_EQ(opened.Find(u"errMsg")->string(), Utf8ToUtf16Lossy(kOpenFailed));
      }
      const Outcome got_sealed = OutcomeOf(s.Call("QMDecryptedAndVerifiedEnvelop", {sealed[i]}));
      if (c.aes) {
        EXPECT_TRUE(got_sealed == bad_padding || got_sealed == inner_undecodable);
      } else {
        EXPECT_EQ(got_sealed, wrong_key_sealed);
      }
      if (!c.aes) {
        // Another control (another process) opens it to the same bytes.
        EXPECT_ANSWER(s.Call("QMDecryptEnvelop", {plain[i]}), 0, 0);
        LiveSession other = Start();
        EXPECT_ANSWER(other.Call("QMSetSymmetryArithmetic", {std::u16string(c.oid)}), 0, 0);
        EXPECT_ANSWER(other.Call("QMDecryptEnvelop", {plain[i]}), 0, 0);
        EXPECT_EQ(Result(other.Call("QMGetPlainText")), Result(s.Call("QMGetPlainText")));
      }
    }
  }
}

}  // namespace
}  // namespace quillmark::control
