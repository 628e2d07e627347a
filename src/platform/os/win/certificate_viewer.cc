#include "platform/os/win/certificate_viewer.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <memory>

#include "common/ascii.h"
#include "platform/os/bounded_read.h"
#include "platform/os/win/wide.h"

namespace quillmark::platform::win {

namespace {

constexpr std::uint64_t kMaxCertificateSize = 1 << 20;
constexpr DWORD kCertStoreCertificateContext = 1;  // CERT_STORE_CERTIFICATE_CONTEXT

using ViewContextFn = BOOL(WINAPI*)(DWORD type, const void* context, HWND owner, LPCWSTR title,
                                    DWORD flags, void* reserved);

// CryptUIDlgViewContext, or null. The DLL stays loaded for the process.
ViewContextFn ViewContext() {
  static const ViewContextFn fn = [] {
    HMODULE cryptui = ::LoadLibraryExW(L"cryptui.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (cryptui == nullptr) cryptui = ::LoadLibraryW(L"cryptui.dll");
    if (cryptui == nullptr) return static_cast<ViewContextFn>(nullptr);
    return reinterpret_cast<ViewContextFn>(
        reinterpret_cast<void*>(::GetProcAddress(cryptui, "CryptUIDlgViewContext")));
  }();
  return fn;
}

struct ContextFree {
  void operator()(PCCERT_CONTEXT c) const { ::CertFreeCertificateContext(c); }
};

}  // namespace

bool IsCertificateFile(std::u16string_view file) {
  std::size_t dot = file.rfind(u'.');
  if (dot == std::u16string_view::npos ||
      file.find_first_of(u"\\/", dot) != std::u16string_view::npos) {
    return false;
  }
  std::u16string_view ext = file.substr(dot);
  return EqualsIgnoringAsciiCase(ext, u".cer") || EqualsIgnoringAsciiCase(ext, u".crt") ||
         EqualsIgnoringAsciiCase(ext, u".der");
}

bool ViewCertificateFile(const std::wstring& file, void* owner) {
  ViewContextFn view = ViewContext();
  if (view == nullptr) return false;
  Bytes der;
  if (ReadFileAtMost(Utf8(file), kMaxCertificateSize, &der) != BoundedRead::kOk || der.empty()) {
    return false;
  }
  std::unique_ptr<const CERT_CONTEXT, ContextFree> cert(::CertCreateCertificateContext(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (!cert) return false;
  return view(kCertStoreCertificateContext, cert.get(), static_cast<HWND>(owner), nullptr, 0,
              nullptr) != FALSE;
}

}  // namespace quillmark::platform::win
