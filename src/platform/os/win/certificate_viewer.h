// The system's certificate viewer (CryptUIDlgViewContext of cryptui.dll,
// loaded when first needed) for a DER certificate file.
#ifndef QUILLMARK_PLATFORM_OS_WIN_CERTIFICATE_VIEWER_H_
#define QUILLMARK_PLATFORM_OS_WIN_CERTIFICATE_VIEWER_H_

#include <string>

namespace quillmark::platform::win {

// Whether |file| names a certificate by its extension (.cer, .crt, .der).
bool IsCertificateFile(std::u16string_view file);

// Shows the certificate in |file| in the system's viewer, owned by |owner|,
// and returns when the viewer is closed. False when the file holds no
// certificate or cryptui.dll or its function is not there.
bool ViewCertificateFile(const std::wstring& file, void* owner);

}  // namespace quillmark::platform::win

#endif  // QUILLMARK_PLATFORM_OS_WIN_CERTIFICATE_VIEWER_H_
