// quillmark browser install | uninstall | origins [--forget ORIGIN]
//
// install writes the per-user native messaging host manifests that let our
// extension start quillmark-host (the program beside this one) in
// Chromium, Google Chrome and Firefox; uninstall removes them. origins lists
// the decisions about web origins (the user's origins.json and the
// system-wide file) and forgets one of the user's.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "com/origin_store.h"
#include "common/bytes.h"
#include "common/json.h"
#include "platform/os/executable_path.h"
#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/registry/native_hosts.h"

namespace quillmark::cli {
namespace {

constexpr char kHostName[] = "com.quillmark.host";
constexpr char kHostProgram[] = "quillmark-host";
// The extension's identities: the Chromium ID follows from the fixed
// development key in its manifest; Firefox takes the ID the manifest declares.
constexpr char kChromiumExtensionId[] = "oicddncekjkebcnhiolccgelcgghlebf";
constexpr char kFirefoxExtensionId[] = "quillmark@quillmark.example";

constexpr char kUsage[] =
    "usage: quillmark browser install | uninstall | origins [--home DIR] [--forget ORIGIN]\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmark browser: %s\n", message.c_str());
  return 1;
}

using platform::NativeHostBrowser;
using platform::NativeHostPlace;

std::string ManifestText(NativeHostBrowser browser, const std::string& host_path) {
  json::Writer w;
  w.BeginObject();
  w.Key("name");
  w.StringUtf8(kHostName);
  w.Key("description");
  w.StringUtf8("Quillmark signing control");
  w.Key("path");
  w.StringUtf8(host_path);
  w.Key("type");
  w.StringUtf8("stdio");
  if (browser == NativeHostBrowser::kChromium) {
    w.Key("allowed_origins");
    w.BeginArray();
    w.StringUtf8(std::string("chrome-extension://") + kChromiumExtensionId + "/");
    w.EndArray();
  } else {
    w.Key("allowed_extensions");
    w.BeginArray();
    w.StringUtf8(kFirefoxExtensionId);
    w.EndArray();
  }
  w.EndObject();
  return w.Take() + "\n";
}

std::string ManifestPath(const NativeHostPlace& place) {
  return platform::NativeHostManifestPath(place, kHostName);
}

int Install(Args args) {
  if (!args.empty()) return Usage();
  std::string host = platform::ProgramBesideThisOne(kHostProgram);
  if (host.empty()) return Fail("cannot tell where quillmark is installed");
  if (!platform::IsRegularFile(host))
    return Fail(host + " is missing; install it beside quillmark");
  std::vector<NativeHostPlace> places = platform::NativeHostPlaces();
  if (places.empty()) return Fail("there is no home folder");
  for (const NativeHostPlace& place : places) {
    std::string path = ManifestPath(place);
    if (!platform::MakeDirectories(place.folder, 0755) ||
        !platform::WriteFileAtomically(path, AsBytes(ManifestText(place.browser, host)), 0644)) {
      return Fail("cannot write " + path);
    }
    if (!platform::PublishNativeHost(place, kHostName, path)) {
      return Fail(std::string("cannot register the manifest with ") + place.label);
    }
    std::printf("%s: %s\n", place.label, path.c_str());
  }
  return 0;
}

int Uninstall(Args args) {
  if (!args.empty()) return Usage();
  std::vector<NativeHostPlace> places = platform::NativeHostPlaces();
  if (places.empty()) return Fail("there is no home folder");
  for (const NativeHostPlace& place : places) {
    if (!platform::WithdrawNativeHost(place, kHostName)) {
      return Fail(std::string("cannot unregister the manifest from ") + place.label);
    }
    std::string path = ManifestPath(place);
    if (!platform::IsRegularFile(path)) continue;
    if (!platform::RemoveFile(path)) return Fail("cannot remove " + path);
    std::printf("removed %s\n", path.c_str());
  }
  return 0;
}

void PrintDecisions(const com::OriginStore& store, const char* where) {
  for (const com::OriginStore::Entry& e : store.entries()) {
    std::string_view decision = com::OriginDecisionName(e.second);
    std::printf("%-6.*s %s%s\n", static_cast<int>(decision.size()), decision.data(),
                e.first.c_str(), where);
  }
}

int Origins(Args args) {
  std::string forget;
  bool forgetting = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--home" && i + 1 < args.size() && !args[i + 1].empty()) {
      platform::SetQuillmarkHome(std::string(args[++i]));
    } else if (args[i] == "--forget" && i + 1 < args.size() && !forgetting) {
      forget = std::string(args[++i]);
      forgetting = true;
    } else {
      return Usage();
    }
  }
  std::string path = com::UserOriginsPath();
  if (path.empty()) return Fail("there is no home folder");
  com::OriginStore user;
  std::string error;
  if (!user.Load(path, &error)) return Fail(error);
  if (forgetting) {
    if (!user.Forget(forget)) return Fail("no decision about " + forget + " in " + path);
    if (!user.Save(path, &error)) return Fail(error);
    std::printf("forgot %s\n", forget.c_str());
    return 0;
  }
  PrintDecisions(user, "");
  com::OriginStore system;
  std::string system_path = com::SystemOriginsPath();
  std::string ignored;
  if (!com::LoadSystemOrigins(system_path, &system, &ignored, &error)) return Fail(error);
  if (!ignored.empty()) std::fprintf(stderr, "quillmark browser origins: %s\n", ignored.c_str());
  std::string where = " (" + system_path + ")";
  PrintDecisions(system, where.c_str());
  return 0;
}

}  // namespace

int RunBrowser(Args args) {
  if (args.empty()) return Usage();
  std::string_view sub = args[0];
  Args rest = args.subspan(1);
  if (sub == "install") return Install(rest);
  if (sub == "uninstall") return Uninstall(rest);
  if (sub == "origins") return Origins(rest);
  return Usage();
}

}  // namespace quillmark::cli
