// quillmark store import and quillmark store demo: certificates that come
// with private keys.
//
// Every failure prints one line on standard error and exits non-zero; the
// files are read and checked before anything is written. The password comes
// from --password, from --password-fd N (one line read from descriptor N),
// or, when neither is given and a file needs one while standard input is a
// terminal, from a prompt without echo. With --protect the key is kept
// encrypted under a new passphrase, read from --protect-fd N or, at a
// terminal, asked twice without echo. Passwords and key bytes are wiped once
// used.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/store_common.h"
#include "common/unicode.h"
#include "demo/demo_pki.h"
#include "platform/keys/key_import.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/secret_input.h"
#include "platform/store/cert_context.h"
#include "platform/store/cert_store.h"

namespace quillmark::cli {

namespace {

namespace pf = quillmark::platform;

constexpr char kImportUsage[] =
    "usage: quillmark store import STORE (FILE.p12 | --cert CERT --key KEY) "
    "[--password P | --password-fd N] [--key-spec exchange|signature] [--protect [--protect-fd N]]";
constexpr char kDemoUsage[] = "usage: quillmark store demo";

const char* SpecName(std::uint32_t spec) {
  return spec == pf::kAtSignature ? "signature" : "exchange";
}

struct ImportArgs {
  ImportArgs() = default;
  ~ImportArgs() {
    pf::WipeSecret(&password);
    pf::WipeSecret(&protect_passphrase);
  }
  ImportArgs(const ImportArgs&) = delete;
  ImportArgs& operator=(const ImportArgs&) = delete;

  std::string store;
  std::string p12;
  std::string cert;
  std::string key;
  std::string password;
  bool password_given = false;  // --password or --password-fd
  std::uint32_t key_spec = pf::kAtKeyExchange;
  bool protect = false;
  int protect_fd = -1;  // --protect-fd
  std::string protect_passphrase;
};

// Bytes of an input file, wiped when they go (they may hold a private key).
struct SecretBytes {
  SecretBytes() = default;
  ~SecretBytes() { pf::WipeSecret(&data); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  Bytes data;
};

// The descriptor number of --password-fd; false unless it is a whole
// non-negative number.
bool ParseFd(std::string_view text, int* fd) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  *fd = value;
  return true;
}

// Parses the arguments; 0, or the exit status after printing the error.
int ParseImportArgs(Args args, ImportArgs* out) {
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view a = args[i];
    if (a == "--protect") {
      out->protect = true;
      continue;
    }
    bool takes_value = a == "--password" || a == "--password-fd" || a == "--cert" || a == "--key" ||
                       a == "--key-spec" || a == "--protect-fd";
    if (takes_value) {
      if (i + 1 >= args.size()) return StoreFail("option " + std::string(a) + " needs a value");
      if (a == "--password" || a == "--password-fd") {
        if (out->password_given) return StoreFail("give the password only once");
        out->password_given = true;
      }
      if (a == "--password") {
        out->password.assign(args[++i]);
        continue;
      }
      std::string value(args[++i]);
      if (a == "--password-fd") {
        int fd = -1;
        if (!ParseFd(value, &fd)) return StoreFail("'" + value + "' is not a file descriptor");
        if (!pf::ReadPasswordFromFd(fd, &out->password)) {
          return StoreFail("cannot read a password from descriptor " + value +
                           " (one line, at most 4096 bytes)");
        }
      } else if (a == "--protect-fd") {
        if (!ParseFd(value, &out->protect_fd)) {
          return StoreFail("'" + value + "' is not a file descriptor");
        }
      } else if (a == "--cert") {
        out->cert = value;
      } else if (a == "--key") {
        out->key = value;
      } else if (value == "exchange") {
        out->key_spec = pf::kAtKeyExchange;
      } else if (value == "signature") {
        out->key_spec = pf::kAtSignature;
      } else {
        return StoreFail("unknown key spec '" + value + "' (exchange or signature)");
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return StoreFail("unknown option '" + std::string(a) + "'");
    } else {
      positional.emplace_back(a);
    }
  }
  bool pair = !out->cert.empty() || !out->key.empty();
  if (positional.empty() || (pair && positional.size() != 1) || (!pair && positional.size() != 2) ||
      (pair && (out->cert.empty() || out->key.empty()))) {
    return StoreUsage(kImportUsage);
  }
  if (out->protect_fd >= 0 && !out->protect) return StoreFail("--protect-fd goes with --protect");
  out->store = positional[0];
  if (!pair) out->p12 = positional[1];
  return 0;
}

// The passphrase that --protect keeps the key under: from --protect-fd, or
// asked twice at a terminal. Prints why and returns false when there is none.
bool ReadProtectPassphrase(ImportArgs* a) {
  if (a->protect_fd >= 0) {
    if (!pf::ReadPasswordFromFd(a->protect_fd, &a->protect_passphrase)) {
      StoreFail("cannot read a passphrase from descriptor " + std::to_string(a->protect_fd) +
                " (one line, at most 4096 bytes)");
      return false;
    }
  } else if (!pf::StdinIsTerminal()) {
    StoreFail("--protect needs a passphrase: give --protect-fd N or run at a terminal");
    return false;
  } else {
    std::string again;
    bool read = pf::PromptPassword("new passphrase for the key: ", &a->protect_passphrase) &&
                pf::PromptPassword("the same passphrase again: ", &again);
    bool same = read && again == a->protect_passphrase;
    pf::WipeSecret(&again);
    if (!same) {
      StoreFail(read ? "the two passphrases differ" : "no passphrase read");
      return false;
    }
  }
  if (a->protect_passphrase.empty()) {
    StoreFail("the passphrase for --protect is empty");
    return false;
  }
  return true;
}

// Input files are at most this large; they may hold a private key, so they
// are read with no copy left behind.
constexpr std::size_t kMaxInputSize = 16 << 20;

bool ReadInput(const std::string& path, Bytes* data) {
  if (std::uint64_t size = 0; pf::RegularFileSize(path, &size) && size > kMaxInputSize) {
    StoreFail("'" + path + "' is larger than 16 MB");
    return false;
  }
  if (pf::IsDirectory(path) || !pf::ReadSecretFile(path, kMaxInputSize, data)) {
    StoreFail("cannot read '" + path + "'");
    return false;
  }
  return true;
}

// The message for a failed read of the input files.
std::string ReadErrorText(pf::ImportError error, const ImportArgs& a) {
  const std::string& key_file = a.p12.empty() ? a.key : a.p12;
  const std::string& cert_file = a.p12.empty() ? a.cert : a.p12;
  switch (error) {
    case pf::ImportError::kNotPkcs12:
      return "'" + a.p12 + "' is not a PKCS#12 file";
    case pf::ImportError::kWrongPassword:
      return !a.password_given ? "'" + key_file + "' is protected by a password (use --password)"
                               : "wrong password for '" + key_file + "'";
    case pf::ImportError::kPkcs12Unreadable:
      return "cannot decode the contents of '" + a.p12 + "'";
    case pf::ImportError::kNoPrivateKey:
      return "'" + key_file + "' holds no private key";
    case pf::ImportError::kNoCertificate:
      return "'" + cert_file + "' holds no certificate";
    case pf::ImportError::kNotCertificate:
      return "'" + cert_file + "' is not a certificate";
    case pf::ImportError::kUnsupportedKey:
      return "the private key in '" + key_file + "' is neither RSA nor SM2";
    case pf::ImportError::kKeyMismatch:
      return "the private key in '" + key_file + "' does not match the certificate";
    default:
      return "cannot read the certificate and key";
  }
}

std::string SubjectText(const pf::CertContext& cert) {
  std::u16string text;
  pf::CertNameToStrW(pf::kDefaultEncoding, cert.subject_der(), pf::kCertX500NameStr, &text);
  return Utf16ToUtf8Lossy(text);
}

// Reads the certificate and key with the password given; when none was given,
// the file needs one and standard input is a terminal, asks for it and tries
// again.
pf::ImportError ReadPair(ImportArgs* a, pf::CertificateWithKey* pair, bool* unreadable) {
  *unreadable = true;
  SecretBytes first, second;
  if (!a->p12.empty()) {
    if (!ReadInput(a->p12, &first.data)) return pf::ImportError::kNone;
  } else if (!ReadInput(a->cert, &first.data) || !ReadInput(a->key, &second.data)) {
    return pf::ImportError::kNone;
  }
  *unreadable = false;
  auto read = [&] {
    return !a->p12.empty() ? pf::ReadPkcs12(first.data, a->password, pair)
                           : pf::ReadCertificateAndKey(first.data, second.data, a->password, pair);
  };
  pf::ImportError error = read();
  if (error == pf::ImportError::kWrongPassword && !a->password_given && pf::StdinIsTerminal()) {
    std::string prompt = "password for " + (a->p12.empty() ? a->key : a->p12) + ": ";
    if (pf::PromptPassword(prompt.c_str(), &a->password)) {
      a->password_given = true;
      error = read();
    }
  }
  return error;
}

}  // namespace

int RunStoreImport(Args args) {
  ImportArgs a;
  if (int status = ParseImportArgs(args, &a)) return status;
  pf::CertificateWithKey pair;
  bool unreadable = false;
  pf::ImportError error = ReadPair(&a, &pair, &unreadable);
  if (unreadable) return 1;
  if (error != pf::ImportError::kNone) return StoreFail(ReadErrorText(error, a));
  if (a.protect && !ReadProtectPassphrase(&a)) return 1;

  pf::CertStore store;
  if (!OpenStore(a.store, 0, &store, nullptr)) return 1;
  pf::CertContextPtr added;
  pf::ImportOptions options{.key_spec = a.key_spec, .protect_passphrase = a.protect_passphrase};
  switch (pf::ImportCertificateWithKey(store, pair, options, &added)) {
    case pf::ImportError::kNone:
      break;
    case pf::ImportError::kKeyStoreFailed:
      return StoreFail("cannot write the private key under " + pf::QuillmarkHome() + "/keys");
    default:
      return StoreFail("cannot write to store '" + store.name() + "'");
  }
  std::optional<pf::KeyProvInfo> info = added->key_prov_info();
  std::printf("imported %s into %s: %s (key container %s, %s key%s)\n", added->thumbprint().c_str(),
              store.name().c_str(), SubjectText(*added).c_str(),
              info ? Utf16ToUtf8Lossy(info->container).c_str() : "?", SpecName(a.key_spec),
              a.protect ? ", protected by a passphrase" : "");
  return 0;
}

int RunStoreDemo(Args args) {
  if (!args.empty()) return StoreUsage(kDemoUsage);
  std::vector<::quillmark::demo::DemoItem> items;
  std::string error;
  if (!::quillmark::demo::CreateDemoPki(&items, &error)) return StoreFail("demo: " + error);
  std::string out = "demonstration PKI made in " + pf::QuillmarkHome() +
                    " (a previous one there was removed first)\n";
  for (const ::quillmark::demo::DemoItem& item : items) {
    char head[64];
    std::snprintf(head, sizeof head, "  %-12s %-16s ", item.store.c_str(), item.role.c_str());
    out += head + item.thumbprint + "  " + Utf16ToUtf8Lossy(item.name);
    if (!item.container.empty()) out += "  [" + std::string(SpecName(item.key_spec)) + " key]";
    out += "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : StoreFail("cannot write the summary");
}

}  // namespace quillmark::cli
