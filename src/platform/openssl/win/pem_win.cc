// Windows PEM reading: the block lines are found here, the Base64 between
// them is decoded by the system (CryptStringToBinaryA).
#include <windows.h>

#include <wincrypt.h>

#include <string_view>

#include "platform/openssl/pem.h"

namespace quillmark::platform {

namespace {

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kDashes = "-----";

// The body of a block without RFC 1421 header lines ("Proc-Type: ...")
// and the blank line after them, as OpenSSL's reader skips them.
std::string_view WithoutHeaders(std::string_view body) {
  size_t first_eol = body.find('\n');
  std::string_view first_line = body.substr(0, first_eol);
  if (first_line.find(':') == std::string_view::npos) return body;
  size_t blank = body.find("\n\n");
  size_t blank_crlf = body.find("\n\r\n");
  if (blank_crlf != std::string_view::npos &&
      (blank == std::string_view::npos || blank_crlf < blank)) {
    return body.substr(blank_crlf + 3);
  }
  return blank == std::string_view::npos ? std::string_view() : body.substr(blank + 2);
}

bool DecodeBase64(std::string_view text, Bytes* out) {
  if (text.size() > MAXDWORD) return false;
  DWORD size = 0;
  if (!::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                              nullptr, &size, nullptr, nullptr)) {
    return false;
  }
  out->resize(size);
  if (!::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                              out->data(), &size, nullptr, nullptr)) {
    return false;
  }
  out->resize(size);
  return true;
}

}  // namespace

bool LooksLikePem(ByteSpan data) { return AsChars(data).find(kBegin) != std::string_view::npos; }

bool ReadPemBlocks(ByteSpan data, std::vector<PemBlock>* out) {
  std::string_view text = AsChars(data);
  std::vector<PemBlock> blocks;
  for (size_t pos = text.find(kBegin); pos != std::string_view::npos;
       pos = text.find(kBegin, pos)) {
    size_t label_at = pos + kBegin.size();
    size_t label_end = text.find(kDashes, label_at);
    size_t eol = text.find('\n', label_at);
    if (label_end == std::string_view::npos || (eol != std::string_view::npos && eol < label_end)) {
      return false;
    }
    PemBlock block;
    block.label.assign(text.substr(label_at, label_end - label_at));
    if (block.label.empty() || eol == std::string_view::npos) return false;
    std::string end_line = "-----END " + block.label + "-----";
    size_t end = text.find(end_line, eol + 1);
    if (end == std::string_view::npos) return false;
    std::string_view body = WithoutHeaders(text.substr(eol + 1, end - eol - 1));
    // A begin line inside the body is a block without its end line.
    if (body.find(kBegin) != std::string_view::npos) return false;
    if (!DecodeBase64(body, &block.der) || block.der.empty()) return false;
    blocks.push_back(std::move(block));
    pos = end + end_line.size();
  }
  if (blocks.empty()) return false;
  *out = std::move(blocks);
  return true;
}

}  // namespace quillmark::platform
