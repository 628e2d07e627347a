// The session protocol: JSON lines fed to one control instance never crash
// and each line gets exactly one answer line. The instance runs in a scratch
// home holding the demonstration PKI, dialogs are cancelled ("none"), and the
// members that read or write files named by the caller are left out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "com/class_factory.h"
#include "com/session.h"
#include "common/json.h"
#include "demo/demo_pki.h"
#include "platform/os/home.h"

namespace com = quillmark::com;
namespace ctl = quillmark::control;

namespace {

bool IsFileMember(std::int32_t dispid) {
  const com::MemberInfo* member = com::FindMember(dispid, com::MemberKind::kMethod);
  if (member == nullptr) return false;
  for (std::string_view file_member : {"QMAddFile", "QMGetFile", "QMAttachedVerifySignedFile",
                                       "QMAddFileForEncrypt", "QMEncryptFileAndSave"}) {
    if (member->name == file_member) return true;
  }
  return false;
}

// True when |line| names a member that reads or writes a file named by the
// caller; such lines are not fed to the session.
bool NamesAFileMember(std::string_view line) {
  quillmark::json::Value request;
  std::string error;
  if (!quillmark::json::Parse(line, &request, &error) || !request.is_object()) return false;
  for (const quillmark::json::Value::Member& field : request.object()) {
    if (field.first != u"call" && field.first != u"get" && field.first != u"put") continue;
    std::int32_t dispid = 0;
    if (field.second.is_string() &&
        com::Dispatcher::GetIDsOfNames(field.second.string(), &dispid) == ctl::S_OK &&
        IsFileMember(dispid)) {
      return true;
    }
  }
  return false;
}

char g_home[] = "/tmp/qm-fuzz-session-XXXXXX";

void RemoveHome() {
  std::error_code ignored;
  std::filesystem::remove_all(g_home, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (mkdtemp(g_home) == nullptr) std::abort();
  std::atexit(RemoveHome);
  const char* home = g_home;
  quillmark::platform::SetQuillmarkHome(home);
  std::vector<quillmark::demo::DemoItem> items;
  std::string error;
  if (!quillmark::demo::CreateDemoPki(&items, &error)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  com::ClassFactoryRef factory;
  com::ControlPtr control;
  if (com::GetClassObject(ctl::kClsidLydraCorvaneQuillmark, ctl::kIidIClassFactory, &factory) !=
          ctl::S_OK ||
      factory->CreateInstance(nullptr, ctl::kIidILydraCorvaneQuillmark, &control) != ctl::S_OK) {
    std::abort();
  }
  com::Session session(control.get());
  static const bool echo = std::getenv("QM_FUZZ_ECHO") != nullptr;  // show the answers
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    if (NamesAFileMember(line)) continue;
    const std::string answer = session.Answer(line);
    if (echo) std::fprintf(stderr, "%s\n", answer.c_str());
    if (answer.empty() || answer.front() != '{' || answer.find('\n') != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
