// A certificate of the service's own, made at start, for serving HTTPS that
// no browser trusts (the client's handling of an untrusted service).
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

namespace chronel::demo {

class SelfSignedIdentity {
 public:
  // A fresh key and a self-signed certificate for 127.0.0.1 and localhost,
  // valid from an hour ago for a week. Throws std::runtime_error when OpenSSL fails.
  SelfSignedIdentity();
  ~SelfSignedIdentity();
  SelfSignedIdentity(const SelfSignedIdentity&) = delete;
  SelfSignedIdentity& operator=(const SelfSignedIdentity&) = delete;

  // Owned here; a server that uses them takes references of its own.
  X509* certificate() const { return cert_; }
  EVP_PKEY* key() const { return key_; }
  // "AB:CD:..." over the certificate's DER bytes.
  std::string sha256Fingerprint() const;

 private:
  EVP_PKEY* key_ = nullptr;
  X509* cert_ = nullptr;
};

}  // namespace chronel::demo
