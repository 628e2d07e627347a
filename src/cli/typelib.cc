// quillmark typelib: the control's type library as IDL, as JSON, or as a
// short list (the default).
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "com/type_library.h"

namespace quillmark::cli {

int RunTypelib(Args args) {
  if (args.size() > 1) {
    std::fputs("usage: quillmark typelib [--idl|--json]\n", stderr);
    return 2;
  }
  if (args.size() == 1 && args[0] == "--idl") {
    std::fputs(com::TypeLibraryIdl().c_str(), stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--json") {
    std::printf("%s\n", com::TypeLibraryJson().c_str());
    return 0;
  }
  if (!args.empty()) {
    std::fputs("usage: quillmark typelib [--idl|--json]\n", stderr);
    return 2;
  }
  for (const com::MemberInfo& m : com::TypeLibraryMembers()) {
    std::string params;
    for (const com::ParamInfo& p : m.params()) {
      if (!params.empty()) params += ", ";
      params += p.name;
    }
    std::printf("0x%02X  %-8.*s %.*s(%s)\n", static_cast<unsigned>(m.dispid),
                static_cast<int>(com::MemberKindName(m.kind).size()),
                com::MemberKindName(m.kind).data(), static_cast<int>(m.name.size()), m.name.data(),
                params.c_str());
  }
  std::printf("%zu members\n", com::TypeLibraryMembers().size());
  return 0;
}

}  // namespace quillmark::cli
