// What the certificate viewer shows, as texts the library renders: the
// fields, the extensions (CryptFormatObject's one-line texts) and the chain
// as the current user's stores build it, with the verdict of the base
// policy. No windows here, so the viewer's Qt code needs no OpenSSL.
#ifndef QUILLMARK_DIALOG_CERT_VIEW_TEXTS_H_
#define QUILLMARK_DIALOG_CERT_VIEW_TEXTS_H_

#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"

namespace quillmark::dialog {

struct CertView {
  struct Field {
    std::u16string name;
    std::u16string value;
  };
  struct Extension {
    std::u16string name;  // a known name with its OID, or the OID
    bool critical = false;
    std::u16string text;
  };
  struct Link {
    std::u16string subject;
    std::u16string store;   // where the chain found it; empty for the file itself
    std::u16string status;  // what is wrong with this element, or "OK"
  };
  std::vector<Field> fields;
  std::vector<Extension> extensions;
  std::vector<Link> chain;  // the certificate first
  std::u16string verdict;   // the chain as a whole
};

// The view of the certificate in |bytes| (DER, or the first certificate of
// PEM text). False with a one-line |error| when it holds no certificate.
bool MakeCertView(ByteSpan bytes, CertView* view, std::string* error);

// The same for a file (at most 1 MiB).
bool LoadCertView(const std::string& path, CertView* view, std::string* error);

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_CERT_VIEW_TEXTS_H_
