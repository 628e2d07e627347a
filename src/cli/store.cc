// quillmark store: list, add and remove certificates and CRLs in the
// current user's stores.
//
// Every failure prints one line on standard error and exits non-zero;
// nothing is written unless every input was read and understood.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/home_check.h"
#include "cli/store_common.h"
#include "common/hex.h"
#include "common/unicode.h"
#include "platform/keys/key_import.h"
#include "platform/keys/key_provider.h"
#include "platform/names/cert_text.h"
#include "platform/openssl/pem.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::cli {

namespace {

namespace pf = quillmark::platform;

constexpr char kUsage[] =
    "usage: quillmark store [--home DIR] list STORE [--json] | add STORE FILE... | remove STORE "
    "THUMBPRINT"
    " | import STORE (FILE.p12 | --cert CERT --key KEY) [--password P]"
    " [--key-spec exchange|signature] | demo";

std::string Utf8(std::u16string_view text) { return Utf16ToUtf8Lossy(text); }

// Appends a JSON string literal: UTF-16 to UTF-8, quotes, backslashes and
// control characters escaped, lone surrogates as \uXXXX escapes.
void AppendJsonString(std::u16string_view text, std::string* out) {
  auto escape_unit = [&](char16_t c) {
    *out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
      out->push_back(kHexDigitsLower[(c >> shift) & 0xF]);
  };
  out->push_back('"');
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    switch (c) {
      case u'"':
        *out += "\\\"";
        continue;
      case u'\\':
        *out += "\\\\";
        continue;
      case u'\n':
        *out += "\\n";
        continue;
      case u'\r':
        *out += "\\r";
        continue;
      case u'\t':
        *out += "\\t";
        continue;
      case u'\b':
        *out += "\\b";
        continue;
      case u'\f':
        *out += "\\f";
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      escape_unit(c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      *out += Utf8(text.substr(i, 2));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      escape_unit(c);
    } else {
      *out += Utf8(text.substr(i, 1));
    }
  }
  out->push_back('"');
}

void AppendJsonString(std::string_view ascii, std::string* out) {
  AppendJsonString(Utf8ToUtf16Lossy(ascii), out);
}

std::u16string NameText(ByteSpan name) {
  std::u16string text;
  if (!pf::CertNameToStrW(pf::kDefaultEncoding, name, pf::kCertX500NameStr, &text)) return u"";
  return text;
}

const char* KeySpecName(std::uint32_t spec) {
  switch (spec) {
    case pf::kAtKeyExchange:
      return "exchange";
    case pf::kAtSignature:
      return "signature";
    default:
      return "unknown";
  }
}

void AppendCertJson(const pf::CertContext& cert, std::string* out) {
  *out += "{\"thumbprint\":";
  AppendJsonString(cert.thumbprint(), out);
  *out += ",\"subject\":";
  AppendJsonString(NameText(cert.subject_der()), out);
  *out += ",\"issuer\":";
  AppendJsonString(NameText(cert.issuer_der()), out);
  *out += ",\"notBefore\":";
  AppendJsonString(pf::FormatCertTimeText(cert.not_before()), out);
  *out += ",\"notAfter\":";
  AppendJsonString(pf::FormatCertTimeText(cert.not_after()), out);
  *out += ",\"serial\":";
  AppendJsonString(pf::FormatSerialText(cert.serial()), out);
  *out += ",\"key\":";
  pf::KeyProvInfo info;
  if (pf::CertGetCertificateContextProperty(cert, pf::kCertKeyProvInfoPropId, &info)) {
    *out += "{\"container\":";
    AppendJsonString(info.container, out);
    *out += ",\"provider\":";
    AppendJsonString(info.provider, out);
    *out += ",\"spec\":" + std::to_string(info.key_spec) + "}";
  } else {
    *out += "null";
  }
  *out += "}";
}

void AppendCertText(const pf::CertContext& cert, std::string* out) {
  *out += cert.thumbprint() + "\n";
  *out += "  subject:  " + Utf8(NameText(cert.subject_der())) + "\n";
  *out += "  issuer:   " + Utf8(NameText(cert.issuer_der())) + "\n";
  *out += "  valid:    " + Utf8(pf::FormatCertTimeText(cert.not_before())) + " to " +
          Utf8(pf::FormatCertTimeText(cert.not_after())) + "\n";
  *out += "  serial:   " + Utf8(pf::FormatSerialText(cert.serial())) + "\n";
  pf::KeyProvInfo info;
  if (pf::CertGetCertificateContextProperty(cert, pf::kCertKeyProvInfoPropId, &info)) {
    *out += "  key:      " + Utf8(info.container) + " (" + Utf8(info.provider) + ", " +
            KeySpecName(info.key_spec) + ")\n";
  }
}

int RunStoreList(Args args) {
  bool json = false;
  std::vector<std::string_view> positional;
  for (std::string_view a : args) {
    if (a == "--json") {
      json = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return StoreFail("unknown option '" + std::string(a) + "'");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 1) return StoreUsage(kUsage);
  // Listing never creates a store: a name that is not there is reported, so
  // a mistyped name does not look like an empty store.
  pf::CertStore store;
  if (!OpenStore(positional[0], pf::kCertStoreOpenExistingFlag, &store, nullptr)) return 1;
  std::string out;
  if (json) {
    out = "[";
    bool first = true;
    for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
         c = pf::CertEnumCertificatesInStore(store, c)) {
      out += first ? "\n  " : ",\n  ";
      first = false;
      AppendCertJson(*c, &out);
    }
    out += first ? "]\n" : "\n]\n";
  } else {
    for (pf::CertContextPtr c = pf::CertEnumCertificatesInStore(store, nullptr); c;
         c = pf::CertEnumCertificatesInStore(store, c)) {
      AppendCertText(*c, &out);
    }
    for (pf::CrlContextPtr c = pf::CertEnumCRLsInStore(store, nullptr); c;
         c = pf::CertEnumCRLsInStore(store, c)) {
      out += "CRL " + c->thumbprint() + "\n";
      out += "  issuer:   " + Utf8(NameText(c->issuer_der())) + "\n";
      out += "  updated:  " + Utf8(pf::FormatCertTimeText(c->this_update())) + "\n";
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : StoreFail("cannot write the listing");
}

// One certificate or CRL read from an input file.
struct Item {
  bool is_crl = false;
  Bytes der;
  std::string thumbprint;
};

// Reads every certificate and CRL of a DER or PEM file; prints the error.
bool ReadItems(const std::string& path, std::vector<Item>* items) {
  Bytes data;
  if (pf::IsDirectory(path) || !pf::ReadWholeFile(path, &data)) {
    StoreFail("cannot read '" + path + "'");
    return false;
  }
  std::vector<pf::PemBlock> blocks;
  if (pf::LooksLikePem(data)) {
    if (!pf::ReadPemBlocks(data, &blocks)) {
      StoreFail("'" + path + "' holds a damaged PEM block");
      return false;
    }
  } else {
    blocks.push_back({"", std::move(data)});
  }
  size_t before = items->size();
  for (pf::PemBlock& block : blocks) {
    bool want_cert = block.label.empty() || block.label == "CERTIFICATE" ||
                     block.label == "X509 CERTIFICATE" || block.label == "TRUSTED CERTIFICATE";
    bool want_crl = block.label.empty() || block.label == "X509 CRL";
    if (!want_cert && !want_crl) continue;  // keys and other blocks are not ours
    Item item;
    if (want_cert) {
      if (pf::CertContextPtr c =
              pf::CertCreateCertificateContext(pf::kDefaultEncoding, block.der)) {
        item.thumbprint = c->thumbprint();
      }
    }
    if (item.thumbprint.empty() && want_crl) {
      if (pf::CrlContextPtr c = pf::CertCreateCRLContext(pf::kDefaultEncoding, block.der)) {
        item.is_crl = true;
        item.thumbprint = c->thumbprint();
      }
    }
    if (item.thumbprint.empty()) {
      StoreFail("'" + path + "' is not a certificate or CRL" +
                (block.label.empty() ? "" : " (damaged " + block.label + " block)"));
      return false;
    }
    item.der = std::move(block.der);
    items->push_back(std::move(item));
  }
  if (items->size() == before) {
    StoreFail("'" + path + "' holds no certificate or CRL");
    return false;
  }
  return true;
}

int RunStoreAdd(Args args) {
  if (args.size() < 2) return StoreUsage(kUsage);
  std::vector<Item> items;
  for (std::string_view file : args.subspan(1)) {
    if (!ReadItems(std::string(file), &items)) return 1;
  }
  pf::CertStore store;
  if (!OpenStore(args[0], 0, &store, nullptr)) return 1;
  std::string out;
  for (const Item& item : items) {
    bool ok = item.is_crl
                  ? pf::CertAddEncodedCRLToStore(store, pf::kDefaultEncoding, item.der,
                                                 pf::kCertStoreAddUseExisting, nullptr)
                  : pf::CertAddEncodedCertificateToStore(store, pf::kDefaultEncoding, item.der,
                                                         pf::kCertStoreAddUseExisting, nullptr);
    if (!ok) return StoreFail("cannot write to store '" + store.name() + "'");
    out += (item.is_crl ? "crl " : "certificate ") + item.thumbprint + "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

bool ParseThumbprint(std::string_view text, Bytes* out) {
  if (text.size() != 40) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int v = 0;
    for (char c : text.substr(i, 2)) {
      int d = HexDigitValue(static_cast<unsigned char>(c));
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out->push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

int RunStoreRemove(Args args) {
  if (args.size() != 2) return StoreUsage(kUsage);
  Bytes sha1;
  if (!ParseThumbprint(args[1], &sha1)) {
    return StoreFail("'" + std::string(args[1]) + "' is not a thumbprint (40 hex digits)");
  }
  pf::CertStore store;
  bool missing = false;
  if (!OpenStore(args[0], pf::kCertStoreOpenExistingFlag, &store, &missing) && !missing) return 1;
  std::string thumb = pf::HexUpper(sha1);
  if (store) {
    if (pf::CertContextPtr c = pf::CertFindCertificateInStore(
            store, pf::kDefaultEncoding, 0, pf::kCertFindSha1Hash, ByteSpan(sha1), nullptr)) {
      std::optional<pf::KeyProvInfo> key = c->key_prov_info();
      if (!pf::CertDeleteCertificateFromStore(c)) {
        return StoreFail("cannot remove " + thumb + " from store '" + store.name() + "'");
      }
      std::printf("removed certificate %s\n", thumb.c_str());
      // Its private key goes with it unless another certificate uses it.
      bool deleted = false;
      if (key && pf::IsSoftwareProviderName(key->provider) &&
          !pf::DeleteContainerIfUnused(key->container, &deleted)) {
        return StoreFail("removed " + thumb + " but cannot remove its key container " +
                         Utf8(key->container));
      }
      if (deleted) std::printf("removed key container %s\n", Utf8(key->container).c_str());
      return 0;
    }
    for (pf::CrlContextPtr c = pf::CertEnumCRLsInStore(store, nullptr); c;
         c = pf::CertEnumCRLsInStore(store, c)) {
      if (c->thumbprint() != thumb) continue;
      if (!pf::CertDeleteCRLFromStore(c)) {
        return StoreFail("cannot remove " + thumb + " from store '" + store.name() + "'");
      }
      std::printf("removed crl %s\n", thumb.c_str());
      return 0;
    }
  }
  return StoreFail("no certificate or CRL " + thumb + " in store '" + std::string(args[0]) + "'");
}

struct StoreCommand {
  std::string_view name;
  int (*run)(Args);
};

// Subcommands of quillmark store.
constexpr StoreCommand kStoreCommands[] = {
    {"list", RunStoreList},     {"add", RunStoreAdd},   {"remove", RunStoreRemove},
    {"import", RunStoreImport}, {"demo", RunStoreDemo},
};

}  // namespace

int RunStore(Args args) {
  // A leading --home DIR names the home folder for this command, as
  // QUILLMARK_HOME would.
  if (!args.empty() && args[0] == "--home") {
    if (args.size() < 2 || args[1].empty()) return StoreUsage(kUsage);
    pf::SetQuillmarkHome(std::string(args[1]));
    args = args.subspan(2);
  }
  if (args.empty()) return StoreUsage(kUsage);
  if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    std::printf("%s\n", kUsage);
    return 0;
  }
  for (const StoreCommand& c : kStoreCommands) {
    if (c.name != args[0]) continue;
    if (!HomeFolderIsSafe()) return 1;
    return c.run(args.subspan(1));
  }
  return StoreFail("unknown subcommand '" + std::string(args[0]) + "'; " + kUsage);
}

}  // namespace quillmark::cli
