// Text pieces shared by the extension renderings: general names, display
// texts and hex. Every function reads DER with bounds checks and returns
// false, leaving a partial text behind, when the bytes are not what it
// expects; the caller then falls back to hex.
#ifndef QUILLMARK_PLATFORM_NAMES_CERT_GENERAL_NAMES_H_
#define QUILLMARK_PLATFORM_NAMES_CERT_GENERAL_NAMES_H_

#include <string>
#include <string_view>

#include "common/bytes.h"
#include "platform/openssl/der_walk.h"

namespace quillmark::platform::extension_text {

void AppendAscii(std::string_view text, std::u16string* out);
// Spaced lower-case hex.
void AppendHex(ByteSpan bytes, std::u16string* out);

// The contents of a GeneralNames SEQUENCE (or of an IMPLICIT tag standing
// for one), each name as "KIND=value", separated by ", ". At least one name.
bool AppendGeneralNames(ByteSpan names, std::u16string* out);

// A DisplayText or other character string: UTF8String, IA5String,
// VisibleString, PrintableString or BMPString.
bool AppendDisplayText(const der::Tlv& text, std::u16string* out);

// A Name (the whole SEQUENCE TLV) as CertNameToStrW's X.500 text.
bool AppendName(ByteSpan name_tlv, std::u16string* out);

}  // namespace quillmark::platform::extension_text

#endif  // QUILLMARK_PLATFORM_NAMES_CERT_GENERAL_NAMES_H_
