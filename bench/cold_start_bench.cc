// A fresh process per iteration, as a browser page gets one:
//
// - BM_ColdSignByDn: `quillmark session` signs by DN once over a MY store of
//   10,000 certificates whose index exists, timed from the spawn to the
//   signature's answer; measured against BM_D2iX509Only (cert_store_bench.cc),
//   the bare parse such a store would cost without its index.
// - BM_HostFirstAnswer: quillmark-host from its start through the hello to
//   the answer of one request, against BM_BareOpenSSLStart, a program that
//   only loads OpenSSL's default and legacy providers and writes a line.
//
// The store is made once and kept under /tmp, keyed by a version string.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_certs.h"
#include "bench_process.h"
#include "demo/demo_pki.h"
#include "platform/os/files.h"
#include "platform/os/home.h"

namespace {

namespace pf = quillmark::platform;
namespace qb = quillmark::bench;

constexpr char kFixtureVersion[] = "v1";
constexpr int kCount = 10000;

std::string ColdHome() {
  return std::string("/tmp/quillmark-bench-coldsign-") + kFixtureVersion + "-" +
         std::to_string(kCount);
}

// The demonstration PKI (its MY store holds Li Si with a signature key) and
// kCount more certificates in MY, unless a previous run made them.
bool MakeColdFixture() {
  const std::string home = ColdHome();
  const std::string done = home + "/.complete";
  if (pf::IsRegularFile(done)) return true;
  pf::RemoveTree(home);
  if (!pf::MakeDirectories(home, 0700)) return false;
  pf::SetQuillmarkHome(home);
  std::vector<quillmark::demo::DemoItem> items;
  std::string error;
  if (!quillmark::demo::CreateDemoPki(&items, &error)) return false;
  qb::MakeBenchCertificates(home + "/stores/MY", kCount, false);
  // Files younger than the racy window are read again by every process;
  // in use a store has long settled before it signs.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  return pf::WriteFileAtomically(done, quillmark::AsBytes("ok\n"));
}

std::size_t Count(std::string_view s, char c) {
  std::size_t n = 0;
  for (char x : s) n += x == c;
  return n;
}

// Real time from each spawn to the answer; the program's exit is not timed.
void RunTimed(benchmark::State& state, qb::ProgramRun run,
              const std::function<bool(const std::string&)>& answer_ok) {
  std::string output;
  double seconds = 0;
  // One untimed run: it also writes the store's index if it is not there.
  if (!qb::TimeProgram(run, &seconds, &output) || !answer_ok(output)) {
    state.SkipWithError(("the program did not answer: " + output).c_str());
    return;
  }
  run.answered = [&] { state.PauseTiming(); };
  for (auto _ : state) {
    if (!qb::TimeProgram(run, &seconds, &output)) {
      state.SkipWithError("the program failed");
      break;
    }
    state.ResumeTiming();
  }
}

void BM_ColdSignByDn(benchmark::State& state) {
  if (!MakeColdFixture()) {
    state.SkipWithError("cannot make the fixture");
    return;
  }
  qb::ProgramRun run;
  run.argv = {qb::SiblingProgram("quillmark"), "session", "--home", ColdHome(), "--ui", "none"};
  run.input =
      "{\"call\":\"QMSetPlainText\",\"args\":[\"pay 100 to Wang Wu\"]}\n"
      "{\"call\":\"QMAttachedSign\",\"args\":[\"CN=Li Si\"]}\n";
  run.done = [](std::string_view out) { return Count(out, '\n') >= 2; };
  RunTimed(state, run, [](const std::string& out) {
    std::size_t second = out.find('\n') + 1;
    return out.compare(second, 7, "{\"hr\":0") == 0;
  });
}
BENCHMARK(BM_ColdSignByDn)->Arg(kCount)->UseRealTime()->Unit(benchmark::kMillisecond);

// Native messaging frames: a 32-bit length in the machine's order, then JSON.
std::string Frame(std::string_view json) {
  std::uint32_t n = static_cast<std::uint32_t>(json.size());
  std::string out(reinterpret_cast<const char*>(&n), 4);
  out += json;
  return out;
}

// Whether |out| holds |frames| whole frames.
bool HoldsFrames(std::string_view out, int frames) {
  for (int i = 0; i < frames; ++i) {
    if (out.size() < 4) return false;
    std::uint32_t n;
    std::memcpy(&n, out.data(), 4);
    if (out.size() - 4 < n) return false;
    out.remove_prefix(4 + n);
  }
  return true;
}

std::string HostHome() {
  static const std::string home = [] {
    std::string path;
    if (!pf::MakeTemporaryDirectory("quillmark-bench-host-", &path)) return std::string();
    pf::WriteFileAtomically(
        path + "/origins.json",
        quillmark::AsBytes("{\"origins\":{\"https://bank.example\":\"always\"}}"), 0600);
    return path;
  }();
  return home;
}

void BM_HostFirstAnswer(benchmark::State& state) {
  qb::ProgramRun run;
  run.argv = {qb::SiblingProgram("quillmark-host"), "chrome-extension://bench/"};
  run.env = {"QUILLMARK_HOME=" + HostHome(), "QUILLMARK_SYSTEM_ORIGINS=/nonexistent",
             "QUILLMARK_UI=none"};
  run.input = Frame("{\"origin\":\"https://bank.example\"}") +
              Frame("{\"call\":\"QMBase64Encode\",\"args\":[\"abc\"],\"id\":1}");
  run.done = [](std::string_view out) { return HoldsFrames(out, 2); };
  RunTimed(state, run, [](const std::string& out) {
    return out.find("\"ready\":true") != std::string::npos &&
           out.find("\"result\":\"YWJj") != std::string::npos;
  });
}
BENCHMARK(BM_HostFirstAnswer)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_BareOpenSSLStart(benchmark::State& state) {
  qb::ProgramRun run;
  run.argv = {qb::SiblingProgram("quillmark_bench_bare_start")};
  run.done = [](std::string_view out) { return Count(out, '\n') >= 1; };
  RunTimed(state, run, [](const std::string& out) { return out == "ready\n"; });
}
BENCHMARK(BM_BareOpenSSLStart)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
