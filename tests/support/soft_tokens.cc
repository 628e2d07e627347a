#include "support/soft_tokens.h"

#include <stdlib.h>

#include <sstream>

#include "platform/keys/token_catalog.h"
#include "platform/os/files.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::testing {

SoftTokens::SoftTokens(const std::string& dir) : dir_(dir), modules_(dir + "/modules") {
  platform::MakeDirectories(dir_ + "/softhsm", 0700);
  std::string conf = "directories.tokendir = " + dir_ + "/softhsm\nobjectstore.backend = file\n" +
                     "log.level = ERROR\n";
  WriteBytes(dir_ + "/softhsm2.conf", AsBytes(conf));
  SetModules(std::string(kSoftHsmModule) + "\n");
  ::setenv("SOFTHSM2_CONF", (dir_ + "/softhsm2.conf").c_str(), 1);
  ::setenv("QUILLMARK_TOKEN_MODULES", modules_.c_str(), 1);
}

bool SoftTokens::SetModules(const std::string& text) {
  return platform::WriteFileAtomically(modules_, AsBytes(text), 0600);
}

std::string SoftTokens::InitToken(const std::string& label, const std::string& pin) {
  if (RunShell("softhsm2-util --init-token --free --label '" + label + "' --pin " + pin +
               " --so-pin 87654321 >/dev/null") != 0) {
    return "";
  }
  std::string slots;
  if (RunShellCapture("softhsm2-util --show-slots", &slots) != 0) return "";
  // Each token block names its serial number a few lines before its label.
  std::istringstream lines(slots);
  std::string line, serial;
  while (std::getline(lines, line)) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    value.erase(value.find_last_not_of(' ') + 1);
    if (key.find("Serial number") != std::string::npos) serial = value;
    if (key.find("Label") != std::string::npos && value == label) return serial;
  }
  return "";
}

bool SoftTokens::ImportKey(const std::string& token_label, const std::string& pin, EVP_PKEY* key,
                           const std::string& id_hex, const std::string& key_label) {
  std::string pem_path = dir_ + "/import-" + id_hex + ".pem";
  if (!WriteBytes(pem_path, AsBytes(PrivateKeyPem(key)))) return false;
  int rc =
      RunShell("softhsm2-util --import '" + pem_path + "' --token '" + token_label + "' --label '" +
               key_label + "' --id " + id_hex + " --pin " + pin + " >/dev/null");
  platform::RemoveFile(pem_path);
  return rc == 0;
}

bool SoftTokens::PutCertificate(const std::string& serial, const std::string& pin, ByteSpan der,
                                ByteSpan id, const std::string& label) {
  std::string why;
  return platform::StoreCertificateOnToken(serial, pin, der, id, label, &why);
}

bool SoftTokens::RemoveToken(const std::string& serial) {
  // SoftHSM2 names a token's folder by a UUID; find the one whose files
  // hold the serial.
  return RunShell("cd '" + dir_ + "/softhsm' && for d in */; do grep -qs '" + serial +
                  "' \"$d\"token.object && rm -rf \"$d\"; done; true") == 0;
}

}  // namespace quillmark::testing
