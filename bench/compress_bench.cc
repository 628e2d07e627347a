// The frame exports against zlib's own raw deflate and inflate with the same
// settings, one-shot into a preallocated buffer, on 1 MiB of document-like
// text.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "encoding/mem_compress.h"

namespace {

// Deterministic pseudo-text: sentences of words with numbers, dates and
// punctuation, in paragraphs.
const std::vector<unsigned char>& DocumentText(std::size_t n) {
  static std::vector<unsigned char> text;
  if (text.size() == n) return text;
  static const char* const kWords[] = {
      "the",         "payment",     "account",  "of",        "to",        "and",      "bank",
      "transfer",    "amount",      "customer", "reference", "signature", "is",       "for",
      "with",        "certificate", "date",     "balance",   "statement", "branch",   "order",
      "beneficiary", "currency",    "exchange", "rate",      "fee",       "a",        "on",
      "in",          "received",    "credited", "debited",   "confirmed", "pending",  "holder",
      "number",      "period",      "interest", "loan",      "deposit",   "contract", "clause",
      "agreement",   "party",       "shall",    "be",        "by",        "this",     "that",
      "will",        "not",         "any",      "all",       "such",      "as",       "from"};
  constexpr std::size_t kCount = sizeof kWords / sizeof kWords[0];
  std::mt19937 rng(20240229);
  std::string s;
  bool capital = true;
  while (s.size() < n) {
    std::string word = kWords[rng() % kCount];
    if (capital) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    capital = false;
    s += word;
    switch (rng() % 16) {
      case 0:  // an amount
        s.append(" ").append(std::to_string(rng() % 1000000)).append(".");
        s.append(std::to_string(10 + rng() % 90)).append(" ");
        break;
      case 1:  // a date
        s.append(" 20").append(std::to_string(10 + rng() % 15)).append("-0");
        s.append(std::to_string(1 + rng() % 9)).append("-");
        s.append(std::to_string(10 + rng() % 18)).append(" ");
        break;
      case 2:
        s += ", ";
        break;
      case 3:
      case 4:
        s += (rng() % 6 == 0) ? ".\n\n" : ". ";
        capital = true;
        break;
      default:
        s += ' ';
    }
  }
  s.resize(n);
  text.assign(s.begin(), s.end());
  return text;
}

std::vector<unsigned char> RawDeflate(const std::vector<unsigned char>& in) {
  z_stream zs{};
  deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<unsigned char> out(deflateBound(&zs, in.size()));
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

void BM_MemCompress(benchmark::State& state) {
  const auto& in = DocumentText(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> out(compressBound(static_cast<uLong>(in.size())) + 64);
  for (auto _ : state) {
    int len = static_cast<int>(out.size());
    int rc = mem_compress(in.data(), static_cast<int>(in.size()), out.data(), &len);
    if (rc != Z_OK) state.SkipWithError("mem_compress failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_MemCompress)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_ZlibRawDeflate(benchmark::State& state) {
  const auto& in = DocumentText(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> out(compressBound(static_cast<uLong>(in.size())) + 64);
  for (auto _ : state) {
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) state.SkipWithError("deflate failed");
    deflateEnd(&zs);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ZlibRawDeflate)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_MemUncompress(benchmark::State& state) {
  const auto& in = DocumentText(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> frame(compressBound(static_cast<uLong>(in.size())) + 64);
  int frame_len = static_cast<int>(frame.size());
  mem_compress(in.data(), static_cast<int>(in.size()), frame.data(), &frame_len);
  std::vector<unsigned char> out(in.size());
  for (auto _ : state) {
    int len = static_cast<int>(out.size());
    int rc = mem_uncompress(frame.data(), frame_len, out.data(), &len);
    if (rc != Z_OK) state.SkipWithError("mem_uncompress failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  state.counters["ratio"] = static_cast<double>(in.size()) / frame_len;
}
BENCHMARK(BM_MemUncompress)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_ZlibRawInflate(benchmark::State& state) {
  const auto& in = DocumentText(static_cast<std::size_t>(state.range(0)));
  const std::vector<unsigned char> raw = RawDeflate(in);
  std::vector<unsigned char> out(in.size());
  for (auto _ : state) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(raw.data());
    zs.avail_in = static_cast<uInt>(raw.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    if (inflate(&zs, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate failed");
    inflateEnd(&zs);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ZlibRawInflate)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
