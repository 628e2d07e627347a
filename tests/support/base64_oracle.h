// An independent Base64 encoder for the codec's tests to compare against:
// OpenSSL's EVP_EncodeBlock on Linux, the system's CryptBinaryToStringA on
// Windows. Both give the encoding as one unbroken line.
#ifndef QUILLMARK_TESTS_SUPPORT_BASE64_ORACLE_H_
#define QUILLMARK_TESTS_SUPPORT_BASE64_ORACLE_H_

#ifdef _WIN32
#include <windows.h>
// wincrypt.h needs windows.h first.
#include <wincrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <string>

#include "common/bytes.h"

namespace quillmark::testing {

inline std::string OracleBase64Unbroken(ByteSpan in) {
#ifdef _WIN32
  if (in.empty()) return std::string();
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD size = 0;
  if (!::CryptBinaryToStringA(in.data(), static_cast<DWORD>(in.size()), flags, nullptr, &size)) {
    return "<CryptBinaryToStringA failed>";
  }
  std::string s(size, '\0');
  if (!::CryptBinaryToStringA(in.data(), static_cast<DWORD>(in.size()), flags, s.data(), &size)) {
    return "<CryptBinaryToStringA failed>";
  }
  s.resize(size);
  return s;
#else
  std::string s(4 * ((in.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(s.data()), in.data(),
                          static_cast<int>(in.size()));
  s.resize(static_cast<std::size_t>(n));
  return s;
#endif
}

}  // namespace quillmark::testing

#endif  // QUILLMARK_TESTS_SUPPORT_BASE64_ORACLE_H_
