// The 10,000-certificate stores the store and selection benchmarks walk.
//
// Each certificate has a varied subject ("CN=User <i> 张三, ..."), one shared
// P-256 issuer key and a DER file <THUMB>.cer in |folder|; with key
// properties each also gets a <THUMB>.keyprov naming a software container.
// The folder is written once and marked complete, so later runs reuse it.
#ifndef QUILLMARK_BENCH_BENCH_CERTS_H_
#define QUILLMARK_BENCH_BENCH_CERTS_H_

#include <string>
#include <vector>

#include "common/bytes.h"

namespace quillmark::bench {

// Writes |count| certificates into |folder| unless a previous run did.
void MakeBenchCertificates(const std::string& folder, int count, bool with_key_properties);

// The DER of every .cer file in |folder|, in file-name order.
std::vector<Bytes> ReadBenchCertificates(const std::string& folder);

}  // namespace quillmark::bench

#endif  // QUILLMARK_BENCH_BENCH_CERTS_H_
