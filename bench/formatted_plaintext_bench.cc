// The formatted plaintext container against what a C++ developer would write
// without it: a std::vector<std::string> and a flat length-prefixed blob.
//
// Every benchmark works on state.range(0) form items of 100 bytes and reports
// items per second, so the rates compare directly:
//   Encode      vs BaselineVectorOfStrings_Serialize  (entries -> one blob)
//   Decompose   vs BaselineVectorOfStrings_Parse      (blob -> owned entries)
//   TakeAll     vs BaselineVectorOfStrings_EraseFront (first entry out, N times)
// BaselineVectorOfStrings_Copy is the floor: copying the entries, nothing more.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "encoding/formatted_plaintext.h"
#include "encoding/plaintext_buffer.h"

namespace {

using quillmark::Bytes;
using quillmark::encoding::FormattedPlaintext;

constexpr std::size_t kItemSize = 100;

std::vector<std::string> Items(std::size_t count) {
  std::vector<std::string> items;
  for (std::size_t i = 0; i < count; ++i) {
    std::string item(kItemSize, static_cast<char>('a' + i % 26));
    std::memcpy(item.data(), &i, sizeof i);
    items.push_back(std::move(item));
  }
  return items;
}

FormattedPlaintext Container(const std::vector<std::string>& items) {
  FormattedPlaintext c;
  for (const std::string& item : items) {
    if (c.AddFormItem(quillmark::AsBytes(item)) != 0) std::abort();
  }
  return c;
}

Bytes Encoded(const std::vector<std::string>& items) {
  Bytes out;
  if (Container(items).Encode(&out) != 0) std::abort();
  return out;
}

void SetItems(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_FormattedPlaintextEncode(benchmark::State& state) {
  FormattedPlaintext c = Container(Items(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    Bytes out;
    int status = c.Encode(&out);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(out.data());
  }
  SetItems(state);
}

void BM_FormattedPlaintextDecompose(benchmark::State& state) {
  Bytes encoded = Encoded(Items(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    FormattedPlaintext c;
    int status = c.Decompose(encoded);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(c.FormItemCount());
  }
  SetItems(state);
}

void BM_TakeAllFormItems(benchmark::State& state) {
  const std::size_t count = static_cast<std::size_t>(state.range(0));
  const Bytes encoded = Encoded(Items(count));
  Bytes received, item;
  for (auto _ : state) {
    state.PauseTiming();
    received = encoded;
    state.ResumeTiming();
    for (std::size_t i = 0; i < count; ++i) {
      if (!quillmark::encoding::TakeFirstFormItem(&received, &item).ok()) std::abort();
      benchmark::DoNotOptimize(item.data());
    }
    if (!received.empty()) std::abort();
  }
  SetItems(state);
}

void BM_BaselineVectorOfStrings_Copy(benchmark::State& state) {
  const std::vector<std::string> items = Items(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::string> copy = items;
    benchmark::DoNotOptimize(copy.data());
  }
  SetItems(state);
}

// 4-byte native length, then the bytes; one pass to size, one to write.
void BM_BaselineVectorOfStrings_Serialize(benchmark::State& state) {
  const std::vector<std::string> items = Items(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::size_t size = 0;
    for (const std::string& item : items) size += 4 + item.size();
    std::string blob(size, '\0');
    char* p = blob.data();
    for (const std::string& item : items) {
      std::uint32_t n = static_cast<std::uint32_t>(item.size());
      std::memcpy(p, &n, 4);
      std::memcpy(p + 4, item.data(), n);
      p += 4 + n;
    }
    benchmark::DoNotOptimize(blob.data());
  }
  SetItems(state);
}

void BM_BaselineVectorOfStrings_Parse(benchmark::State& state) {
  const std::vector<std::string> items = Items(static_cast<std::size_t>(state.range(0)));
  std::string blob;
  for (const std::string& item : items) {
    std::uint32_t n = static_cast<std::uint32_t>(item.size());
    blob.append(reinterpret_cast<const char*>(&n), 4).append(item);
  }
  for (auto _ : state) {
    std::vector<std::string> out;
    for (std::size_t pos = 0; pos + 4 <= blob.size();) {
      std::uint32_t n;
      std::memcpy(&n, blob.data() + pos, 4);
      out.emplace_back(blob.data() + pos + 4, n);
      pos += 4 + n;
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetItems(state);
}

void BM_BaselineVectorOfStrings_EraseFront(benchmark::State& state) {
  const std::vector<std::string> items = Items(static_cast<std::size_t>(state.range(0)));
  std::vector<std::string> queue;
  for (auto _ : state) {
    state.PauseTiming();
    queue = items;
    state.ResumeTiming();
    while (!queue.empty()) {
      std::string item = std::move(queue.front());
      queue.erase(queue.begin());
      benchmark::DoNotOptimize(item.data());
    }
  }
  SetItems(state);
}

BENCHMARK(BM_FormattedPlaintextEncode)->Arg(10000);
BENCHMARK(BM_FormattedPlaintextDecompose)->Arg(10000);
BENCHMARK(BM_TakeAllFormItems)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineVectorOfStrings_Copy)->Arg(10000);
BENCHMARK(BM_BaselineVectorOfStrings_Serialize)->Arg(10000);
BENCHMARK(BM_BaselineVectorOfStrings_Parse)->Arg(10000);
BENCHMARK(BM_BaselineVectorOfStrings_EraseFront)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
