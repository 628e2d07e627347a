// Base64 throughput against OpenSSL's block codec and plain memcpy.
//
// Every benchmark counts the bytes it is handed (plain bytes for encoders,
// text bytes for decoders) so the reported rates compare directly.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>

#include "common/bytes.h"
#include "encoding/base64.h"
#include "encoding/base64_simd.h"

namespace {

using quillmark::Bytes;

Bytes RandomData(std::size_t n) {
  std::mt19937 rng(42);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

// Base64 without line breaks, as OpenSSL's block decoder needs it.
Bytes UnbrokenText(const Bytes& data) {
  Bytes text(4 * ((data.size() + 2) / 3) + 1);
  int n = EVP_EncodeBlock(text.data(), data.data(), static_cast<int>(data.size()));
  text.resize(static_cast<std::size_t>(n));
  return text;
}

void BM_Base64Encode(benchmark::State& state) {
  Bytes data = RandomData(static_cast<std::size_t>(state.range(0))), out;
  for (auto _ : state) {
    int status = quillmark::encoding::Base64Encode(data, &out);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Encoding into a fresh vector each time, as most callers do.
void BM_Base64EncodeFresh(benchmark::State& state) {
  Bytes data = RandomData(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    Bytes out;
    int status = quillmark::encoding::Base64Encode(data, &out);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_OpenSSLEncodeBlock(benchmark::State& state) {
  Bytes data = RandomData(static_cast<std::size_t>(state.range(0)));
  Bytes out(4 * ((data.size() + 2) / 3) + 1);
  for (auto _ : state) {
    int n = EVP_EncodeBlock(out.data(), data.data(), static_cast<int>(data.size()));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Decodes our own line-broken text; the rate counts the text bytes.
void BM_Base64Decode(benchmark::State& state) {
  Bytes data = RandomData(static_cast<std::size_t>(state.range(0))), text, out;
  quillmark::encoding::Base64Encode(data, &text);
  for (auto _ : state) {
    int status = quillmark::encoding::Base64Decode(text, &out);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

void BM_Base64DecodeFresh(benchmark::State& state) {
  Bytes data = RandomData(static_cast<std::size_t>(state.range(0))), text;
  quillmark::encoding::Base64Encode(data, &text);
  for (auto _ : state) {
    Bytes out;
    int status = quillmark::encoding::Base64Decode(text, &out);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

// EVP_DecodeBlock cannot skip line feeds, so it gets the unbroken text of the
// same data (64 bytes in 65 shorter than ours; the rate counts its own input).
void BM_OpenSSLDecodeBlock(benchmark::State& state) {
  Bytes text = UnbrokenText(RandomData(static_cast<std::size_t>(state.range(0))));
  Bytes out(text.size() / 4 * 3 + 3);
  for (auto _ : state) {
    int n = EVP_DecodeBlock(out.data(), text.data(), static_cast<int>(text.size()));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

// The scalar code alone, as on machines without the vector kernels.
void BM_Base64EncodeScalar(benchmark::State& state) {
  bool saved = quillmark::encoding::internal::Base64SimdEnabled();
  quillmark::encoding::internal::SetBase64SimdEnabled(false);
  BM_Base64Encode(state);
  quillmark::encoding::internal::SetBase64SimdEnabled(saved);
}

void BM_Base64DecodeScalar(benchmark::State& state) {
  bool saved = quillmark::encoding::internal::Base64SimdEnabled();
  quillmark::encoding::internal::SetBase64SimdEnabled(false);
  BM_Base64Decode(state);
  quillmark::encoding::internal::SetBase64SimdEnabled(saved);
}

void BM_Memcpy(benchmark::State& state) {
  Bytes data = RandomData(static_cast<std::size_t>(state.range(0)));
  Bytes out(data.size());
  for (auto _ : state) {
    std::memcpy(out.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Base64Encode)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_Base64EncodeFresh)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_OpenSSLEncodeBlock)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_Base64Decode)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_Base64DecodeFresh)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_OpenSSLDecodeBlock)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_Base64EncodeScalar)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_Base64DecodeScalar)->Arg(1024)->Arg(1 << 20);
BENCHMARK(BM_Memcpy)->Arg(1024)->Arg(1 << 20);

}  // namespace
