// The sign tuple reader: any bytes are read or refused with an exception,
// and a tuple that was read is written out again as the bytes it came from.
#include "common/memoryinputstream.h"
#include "common/memoryoutputstream.h"
#include "csp++/signtuple.h"
#include "csp++/x509certificate.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<BYTE> signature;
  Crypto::X509Certificate certificate;
  Sys::MemoryInputStream in(std::vector<BYTE>(data, data + size));
  Sys::MemoryOutputStream out;
  try {
    Aux::load_sign_tuple_from_stream(in, signature, certificate);
    Aux::save_sign_tuple_to_stream(out, signature, certificate);
  } catch (const std::exception&) {
    return 0;
  }
  if (out.size() > size || std::memcmp(out.data(), data, static_cast<size_t>(out.size())) != 0) std::abort();
  return 0;
}
