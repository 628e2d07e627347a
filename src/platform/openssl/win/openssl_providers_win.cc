// Windows: the system's cryptographic providers carry the old ciphers (RC2,
// RC4, the PKCS#12 ones) themselves, so there is nothing to load.
#include "platform/openssl/openssl_providers.h"

namespace quillmark::platform {

bool LoadLegacyProvider() { return true; }

}  // namespace quillmark::platform
