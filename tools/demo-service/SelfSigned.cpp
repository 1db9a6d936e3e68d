#include "tools/demo-service/SelfSigned.h"

#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace chronel::demo {

namespace {
[[noreturn]] void fail(const char* what) {
  char detail[256] = "";
  ERR_error_string_n(ERR_get_error(), detail, sizeof detail);
  throw std::runtime_error(std::string("cannot make the self-signed certificate: ") + what + " (" + detail + ")");
}
}  // namespace

SelfSignedIdentity::SelfSignedIdentity() {
  key_ = EVP_EC_gen("P-256");
  if (!key_) fail("no key");
  cert_ = X509_new();
  if (!cert_) fail("no certificate");
  unsigned char serial[8];
  if (RAND_bytes(serial, sizeof serial) != 1) fail("no random serial number");
  serial[0] &= 0x7f;  // positive
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool serialSet = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert_));
  BN_free(number);
  if (!serialSet || X509_set_version(cert_, 2) != 1 || !X509_gmtime_adj(X509_getm_notBefore(cert_), -3600) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert_), 7L * 24 * 3600) || X509_set_pubkey(cert_, key_) != 1)
    fail("fields not set");
  X509_NAME* name = X509_get_subject_name(cert_);
  if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>("chronel-demo-service"), -1, -1, 0) != 1 ||
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                                 -1, 0) != 1 ||
      X509_set_issuer_name(cert_, name) != 1)
    fail("names not set");
  // Browsers read the names from the alternative names only.
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert_, cert_, nullptr, nullptr, 0);
  X509_EXTENSION* names =
      X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, const_cast<char*>("IP:127.0.0.1,DNS:localhost"));
  if (!names || X509_add_ext(cert_, names, -1) != 1) {
    X509_EXTENSION_free(names);
    fail("alternative names not set");
  }
  X509_EXTENSION_free(names);
  if (X509_sign(cert_, key_, EVP_sha256()) == 0) fail("not signed");
}

SelfSignedIdentity::~SelfSignedIdentity() {
  X509_free(cert_);
  EVP_PKEY_free(key_);
}

std::string SelfSignedIdentity::sha256Fingerprint() const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(cert_, EVP_sha256(), digest, &length) != 1) return {};
  std::string out;
  char byte[4];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, i ? ":%02X" : "%02X", digest[i]);
    out += byte;
  }
  return out;
}

}  // namespace chronel::demo
