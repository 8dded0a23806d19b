// RAII owners for the GnuTLS objects the stand-in uses: each holds one
// handle, made by its constructor (which throws on failure) and released by
// its destructor.
#pragma once

#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

namespace tv {

// A GnuTLS failure inside the stand-in; the exported function maps it to a
// Win32 code.
struct GnutlsFailure {
  int code;
};

inline int gnutlsCheck(int result) {
  if (result < 0) throw GnutlsFailure{result};
  return result;
}

template <class Handle, int (*Init)(Handle*), void (*Deinit)(Handle)>
class GnutlsHandle {
 public:
  // Making a handle fails only when memory runs out.
  GnutlsHandle() {
    if (Init(&handle_) < 0) throw std::bad_alloc();
  }
  ~GnutlsHandle() {
    if (handle_ != nullptr) Deinit(handle_);
  }
  GnutlsHandle(const GnutlsHandle&) = delete;
  GnutlsHandle& operator=(const GnutlsHandle&) = delete;

  Handle get() const { return handle_; }
  operator Handle() const { return handle_; }
  // Hands the object to a new owner (an import with AUTO_RELEASE).
  Handle release() { return std::exchange(handle_, nullptr); }

 private:
  Handle handle_ = nullptr;
};

using X509Crt = GnutlsHandle<gnutls_x509_crt_t, gnutls_x509_crt_init, gnutls_x509_crt_deinit>;
using X509Dn = GnutlsHandle<gnutls_x509_dn_t, gnutls_x509_dn_init, gnutls_x509_dn_deinit>;
using X509PrivKey = GnutlsHandle<gnutls_x509_privkey_t, gnutls_x509_privkey_init, gnutls_x509_privkey_deinit>;
using PrivKey = GnutlsHandle<gnutls_privkey_t, gnutls_privkey_init, gnutls_privkey_deinit>;
using PubKey = GnutlsHandle<gnutls_pubkey_t, gnutls_pubkey_init, gnutls_pubkey_deinit>;

// A datum whose bytes GnuTLS allocated (an output of export2, get_raw_dn...).
class GnutlsDatum {
 public:
  GnutlsDatum() = default;
  ~GnutlsDatum() { gnutls_free(datum_.data); }
  GnutlsDatum(const GnutlsDatum&) = delete;
  GnutlsDatum& operator=(const GnutlsDatum&) = delete;

  gnutls_datum_t* out() { return &datum_; }
  const unsigned char* data() const { return datum_.data; }
  size_t size() const { return datum_.size; }
  std::vector<unsigned char> bytes() const { return std::vector<unsigned char>(data(), data() + size()); }

 private:
  gnutls_datum_t datum_{};
};

// A datum that borrows caller bytes, for GnuTLS inputs.
inline gnutls_datum_t borrowedDatum(const void* data, size_t size) {
  return gnutls_datum_t{static_cast<unsigned char*>(const_cast<void*>(data)), static_cast<unsigned>(size)};
}

}  // namespace tv
