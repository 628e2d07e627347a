// The insides of certificate and CRL contexts, shared by the files of the
// platform layer that make and store them. Not for use above platform/.
#ifndef QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_IMPL_H_
#define QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_IMPL_H_

#include <openssl/x509.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/openssl/openssl_ptr.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_fields.h"
#include "platform/store/cert_store.h"

namespace quillmark::platform {

// The key-provider property of one certificate in one store, shared by every
// copy of its context and refreshed when the store's file changes.
struct PropertySlot {
  enum class State { kAbsent, kPresent, kUnreadable };
  mutable std::mutex mu;
  State state = State::kAbsent;
  KeyProvInfo key_prov;
};

struct CertContext::Impl : CertFields {
  Bytes der;
  // The parsed certificate: set when the context is made from bytes, made
  // on first use for one restored from a store's index (CertContextX509).
  mutable std::once_flag x509_once;
  mutable ossl::X509Ptr x509;
  std::array<std::uint8_t, 20> sha1{};
  std::string thumbprint;
  std::string store_name;  // empty for a context made from bytes
  std::string store_path;  // the store folder
  std::string file_name;   // the file it was read from, in that folder
  std::shared_ptr<PropertySlot> props = std::make_shared<PropertySlot>();

  // Texts made on first use.
  mutable std::once_flag details_once;
  mutable std::string sig_oid, spki_oid;
  mutable std::vector<CertExtension> exts;

  ByteSpan Span(DerRange r) const { return SpanOf(der, r); }
};

struct CrlContext::Impl : CrlFields {
  Bytes der;
  ossl::X509CrlPtr crl;
  std::string thumbprint;
  std::string store_name;
  std::string store_path;
  std::string file_name;
};

// Parses a certificate; nullptr (kCryptEOssError) when |der| is not exactly
// one certificate. The context is tied to the given store (may be empty).
CertContextPtr ParseCertificate(Bytes der, const std::string& store_name,
                                const std::string& store_path,
                                const std::string& file_name = std::string());
// A context for a certificate of a store's index: |der| parsed whole when
// the index was written and |sha1| is its SHA-1. Only the DER structure is
// walked; the OpenSSL parse waits for the first caller that needs it.
// nullptr when the structure does not walk.
CertContextPtr RestoreCertificate(Bytes der, const std::array<std::uint8_t, 20>& sha1,
                                  const std::string& store_name, const std::string& store_path,
                                  const std::string& file_name);
CrlContextPtr ParseCrl(Bytes der, const std::string& store_name, const std::string& store_path,
                       const std::string& file_name = std::string());

// The key-provider file format: key=value lines, values UTF-8 with '\\',
// '\n' and '\r' escaped.
std::string SerializeKeyProvInfo(const KeyProvInfo& info);
bool ParseKeyProvInfo(std::string_view text, KeyProvInfo* out);

// Drops the cached listing of one store folder (after a write to it).
void InvalidateStoreCache(const std::string& store_path);

}  // namespace quillmark::platform

#endif  // QUILLMARK_PLATFORM_STORE_CERT_CONTEXT_IMPL_H_
