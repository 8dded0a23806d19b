#include "csp++/signtuple.h"

#include <stdexcept>

#include "common/binaryreader.h"
#include "common/binarywriter.h"
#include "common/trace.h"
#include "csp++/x509certificate.h"

namespace {

// "SIGN" in the low half, "DATA" in the high half: the bytes SIGNDATA.
constexpr uint32_t kMagicLow = 0x4E474953;
constexpr uint32_t kMagicHigh = 0x41544144;
// A GOST R 34.10-2012 signature with a 512-bit key is the longest: 128 bytes.
constexpr DWORD kMaxSignatureLength = 128;

}  // namespace

namespace Aux {

void save_sign_tuple_to_stream(Sys::OutputStream& stream, const std::vector<BYTE>& signature,
                               const Crypto::X509Certificate& certificate) {
  Sys::trace("Aux::save_sign_tuple_to_stream");
  if (signature.empty()) throw std::invalid_argument("Empty signature");
  Sys::BinaryWriter writer(stream);
  writer.writeUInt64(static_cast<uint64_t>(kMagicHigh) << 32 | kMagicLow);
  writer.writeUInt32(static_cast<uint32_t>(signature.size()));
  stream.write(signature.data(), static_cast<DWORD>(signature.size()));
  certificate.serialize(stream);
}

void load_sign_tuple_from_stream(Sys::InputStream& stream, std::vector<BYTE>& signature,
                                 Crypto::X509Certificate& certificate) {
  Sys::trace("Aux::load_sign_tuple_from_stream");
  signature.clear();
  Sys::BinaryReader reader(stream);
  const uint64_t magic = reader.readUInt64();
  if (static_cast<uint32_t>(magic) != kMagicLow || static_cast<uint32_t>(magic >> 32) != kMagicHigh)
    throw std::runtime_error("Invalid stream prefix");
  Sys::trace("...prefix OK");
  const uint32_t length = reader.readUInt32();
  if (length > kMaxSignatureLength) throw std::runtime_error("Illegal length of signature field");
  signature.resize(length);
  // A short read leaves zeros at the end; the certificate field then fails.
  // A length of 0 reads nothing.
  if (length != 0) stream.read(signature.data(), length);
  Sys::trace("...signature field OK");
  certificate.deserialize(stream);
  Sys::trace("...certificate field OK");
  Sys::trace("...all done");
}

}  // namespace Aux
