// The two direct look-ups of the selection routines over a store list: the
// re-find of a chosen candidate by issuer name and serial-number text, and
// the first certificate whose subject matches a DN (server mode, where no
// dialog may be shown).
//
// A store list is the caller's open stores, searched in array order; the
// caller opens and closes them. Returned contexts belong to the caller.
// std::bad_alloc passes to the caller: the selection and the chooser, whose
// contracts say what no memory means.
#ifndef QUILLMARK_CERTS_CERT_LOOKUP_H_
#define QUILLMARK_CERTS_CERT_LOOKUP_H_

#include <span>
#include <string_view>

#include "common/bytes.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::certs {

using StoreList = std::span<const platform::CertStore>;

// The first certificate, store by store, whose issuer Name is exactly
// |issuer_der| and whose serial-number text ("0123 4567 89") is exactly
// |serial_text|. When the same certificate sits in several stores, the copy
// in the first store wins. Null when no store has it.
platform::CertContextPtr RefindByIssuerAndSerial(StoreList stores, ByteSpan issuer_der,
                                                 std::u16string_view serial_text);

// The first certificate, store by store in enumeration order, whose rendered
// subject (X.500 form) contains one of the alternatives of |dn| (normalised,
// split at |separator|). No key filter and no dialog. Null for an empty store
// list or when nothing matches.
platform::CertContextPtr FindFirstBySubject(StoreList stores, std::u16string_view dn,
                                            std::u16string_view separator);

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_CERT_LOOKUP_H_
