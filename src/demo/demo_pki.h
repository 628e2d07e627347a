// A complete demonstration PKI in the home folder, made fresh on every run:
//
//   ROOT         Demo Bank Root CA (RSA) with its empty CRL, and Demo Bank
//                SM2 Root CA (SM2)
//   CA           Demo Bank Customer CA (RSA) with its CRL, which revokes the
//                revoked user below, and Demo Bank SM2 Customer CA (SM2)
//   MY           张三 (RSA, exchange key), Li Si (RSA, signature key),
//                王五 (RSA, exchange key, revoked), 赵六 (SM2, signature key)
//   SM2          赵六 again, with the same key
//   AddressBook  recipients 钱七 and Merchant Payments (no keys), and the
//                certificates of 张三 and Li Si, so that what they sign can be
//                checked against the other people's stores
//
// Every certificate, CRL and key container made is listed in
// <home>/demo.manifest; a new run first removes everything the previous run
// listed, so running it again recreates the PKI without duplicates.
#ifndef QUILLMARK_DEMO_DEMO_PKI_H_
#define QUILLMARK_DEMO_DEMO_PKI_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quillmark::demo {

struct DemoItem {
  std::string store;         // as the store spells its name
  std::string role;          // "root CA", "intermediate CA", "user", "recipient", "CRL"
  std::u16string name;       // subject; for a CRL its issuer
  std::string thumbprint;    // of the certificate or CRL
  std::u16string container;  // key container; empty without a key
  std::uint32_t key_spec = 0;
};

// Makes the PKI; false with a one-line reason in |error| when a step fails.
// On Windows it makes nothing and says why: the stores there are the user's
// own system stores.
bool CreateDemoPki(std::vector<DemoItem>* created, std::string* error);

}  // namespace quillmark::demo

#endif  // QUILLMARK_DEMO_DEMO_PKI_H_
