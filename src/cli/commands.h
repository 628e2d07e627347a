// Subcommands of the quillmark command. Each takes the arguments after its
// own name and returns the process exit status.
#ifndef QUILLMARK_CLI_COMMANDS_H_
#define QUILLMARK_CLI_COMMANDS_H_

#include <span>
#include <string_view>

namespace quillmark::cli {

using Args = std::span<const std::string_view>;

int RunDemo(Args args);

// quillmark store list|add|remove ...: certificate-store management.
int RunStore(Args args);

// quillmark store import|demo: certificates with private keys (store_keys.cc).
int RunStoreImport(Args args);
int RunStoreDemo(Args args);

// quillmark session: one control instance driven by JSON lines (session.cc).
int RunSession(Args args);

// quillmark typelib [--idl|--json]: the type library (typelib.cc).
int RunTypelib(Args args);

// quillmark register|unregister: the module's registration (register.cc).
int RunRegister(Args args);
int RunUnregister(Args args);

// quillmark token list|add-module|remove-module|sync: hardware tokens (token.cc).
int RunToken(Args args);

// quillmark browser install|uninstall|origins: browser set-up (browser.cc).
int RunBrowser(Args args);

}  // namespace quillmark::cli

#endif  // QUILLMARK_CLI_COMMANDS_H_
