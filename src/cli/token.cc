// quillmark token: the PKCS#11 modules the token provider asks, what the
// inserted tokens hold, and propagating their certificates into MY.
//
//   quillmark token [--home DIR] list
//   quillmark token [--home DIR] add-module PATH [--sm2-mechanism N]
//   quillmark token [--home DIR] remove-module PATH
//   quillmark token [--home DIR] sync
//
// Every failure prints one line on standard error and exits non-zero.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/home_check.h"
#include "common/unicode.h"
#include "platform/keys/token_catalog.h"
#include "platform/keys/token_modules.h"
#include "platform/names/cert_text.h"
#include "platform/os/home.h"
#include "platform/store/cert_context.h"

namespace quillmark::cli {

namespace {

namespace pf = quillmark::platform;

constexpr char kUsage[] =
    "usage: quillmark token [--home DIR] list | add-module PATH [--sm2-mechanism N]"
    " | remove-module PATH | sync";

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmark token: %s\n", message.c_str());
  return 1;
}

int Usage() {
  std::fprintf(stderr, "%s\n", kUsage);
  return 2;
}

std::string SubjectOf(const Bytes& der) {
  pf::CertContextPtr cert = pf::CertCreateCertificateContext(pf::kDefaultEncoding, der);
  if (cert == nullptr) return "(not a readable certificate)";
  std::u16string text;
  if (!pf::CertNameToStrW(pf::kDefaultEncoding, cert->subject_der(), pf::kCertX500NameStr, &text)) {
    return "";
  }
  return Utf16ToUtf8Lossy(text);
}

int RunList(Args args) {
  if (!args.empty()) return Usage();
  std::vector<std::string> failures;
  std::vector<pf::TokenEntry> tokens = pf::ListTokens(&failures);
  for (const pf::TokenEntry& t : tokens) {
    std::printf("token \"%s\" serial %s\n", t.label.c_str(), t.serial.c_str());
    std::printf("  module: %s\n", t.module.c_str());
    std::printf("  maker:  %s %s\n", t.manufacturer.c_str(), t.model.c_str());
    std::printf("  flags:  %s\n", pf::TokenFlagNames(t.flags).c_str());
    for (const pf::TokenObjectEntry& o : t.objects) {
      if (o.kind == "certificate") {
        std::printf("  certificate id %s \"%s\": %s\n", o.id_hex.c_str(), o.label.c_str(),
                    SubjectOf(o.der).c_str());
      } else {
        std::printf("  %s %s id %s \"%s\"\n", o.kind.c_str(), o.key_type.c_str(), o.id_hex.c_str(),
                    o.label.c_str());
      }
    }
  }
  if (tokens.empty()) std::printf("no tokens\n");
  for (const std::string& f : failures) Fail(f);
  return failures.empty() ? 0 : 1;
}

int RunAddModule(Args args) {
  if (args.empty()) return Usage();
  pf::TokenModule module{std::string(args[0]), std::nullopt};
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--sm2-mechanism" && i + 1 < args.size()) {
      std::string why;
      std::vector<pf::TokenModule> parsed =
          pf::ParseTokenModules("/m sm2-mechanism=" + std::string(args[++i]), &why);
      if (parsed.empty() || !parsed[0].sm2_mechanism.has_value()) {
        return Fail("--sm2-mechanism takes a number");
      }
      module.sm2_mechanism = parsed[0].sm2_mechanism;
    } else {
      return Usage();
    }
  }
  std::string why;
  if (!pf::CheckTokenModule(module.path, &why)) return Fail(why);
  if (!pf::AddUserTokenModule(module, &why)) return Fail(why);
  return 0;
}

int RunRemoveModule(Args args) {
  if (args.size() != 1) return Usage();
  std::string why;
  if (!pf::RemoveUserTokenModule(std::string(args[0]), &why)) return Fail(why);
  return 0;
}

int RunSync(Args args) {
  if (!args.empty()) return Usage();
  pf::TokenSyncReport report = pf::SyncTokenCertificates();
  std::printf("%d tokens, %d certificates added to MY, %d already there\n", report.tokens,
              report.added, report.unchanged);
  for (const std::string& f : report.failures) Fail(f);
  return report.failures.empty() ? 0 : 1;
}

struct TokenCommand {
  std::string_view name;
  int (*run)(Args);
};

constexpr TokenCommand kTokenCommands[] = {
    {"list", RunList},
    {"add-module", RunAddModule},
    {"remove-module", RunRemoveModule},
    {"sync", RunSync},
};

}  // namespace

int RunToken(Args args) {
  if (!args.empty() && args[0] == "--home") {
    if (args.size() < 2 || args[1].empty()) return Usage();
    pf::SetQuillmarkHome(std::string(args[1]));
    args = args.subspan(2);
  }
  if (args.empty()) return Usage();
  if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    std::printf("%s\n", kUsage);
    return 0;
  }
  for (const TokenCommand& c : kTokenCommands) {
    if (c.name != args[0]) continue;
    if (!HomeFolderIsSafe()) return 1;
    return c.run(args.subspan(1));
  }
  return Fail("unknown subcommand '" + std::string(args[0]) + "'; " + kUsage);
}

}  // namespace quillmark::cli
