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
#include "demo/demo_pki.h"

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;

namespace quillmark::bench {

// Writes |count| certificates into |folder| unless a previous run did.
void MakeBenchCertificates(const std::string& folder, int count, bool with_key_properties);

// The DER of every .cer file in |folder|, in file-name order.
std::vector<Bytes> ReadBenchCertificates(const std::string& folder);

// From a demo PKI made in |home|: Li Si's certificate and RSA signature key,
// and the RSA root and customer CA. The caller frees them. Aborts when the
// demo PKI does not hold them.
void LoadDemoSigner(const std::string& home, const std::vector<demo::DemoItem>& items,
                    X509** signer, EVP_PKEY** key, std::vector<X509*>* chain);

}  // namespace quillmark::bench

#endif  // QUILLMARK_BENCH_BENCH_CERTS_H_
