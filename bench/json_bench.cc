// The session's JSON reader on wide objects: time per member should stay
// flat (up to the logarithm of the duplicate-name lookup) from a thousand
// members to a quarter of a million. A reader that scans the members seen so
// far for each new name grows with the square of the count instead.
#include <benchmark/benchmark.h>

#include <string>

#include "common/json.h"

namespace {

std::string WideObject(int members) {
  std::string text = "{";
  for (int i = 0; i < members; ++i) {
    if (i > 0) text += ',';
    text += "\"member" + std::to_string(i) + "\":" + std::to_string(i);
  }
  return text + "}";
}

void BM_JsonWideObject(benchmark::State& state) {
  const std::string text = WideObject(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    quillmark::json::Value value;
    std::string error;
    if (!quillmark::json::Parse(text, &value, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(value);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_JsonWideObject)
    ->RangeMultiplier(16)
    ->Range(1000, 256000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
