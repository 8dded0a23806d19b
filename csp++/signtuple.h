// The sign tuple: one record holding a signature and the certificate whose
// key made it. Little-endian: the magic "SIGN" "DATA", the signature's 32-bit
// length and bytes, the certificate's 32-bit length and DER encoding.
#pragma once

#include <windows.h>

#include <vector>

#include "common/inputstream.h"
#include "common/outputstream.h"

namespace Crypto {
class X509Certificate;
}

namespace Aux {

// Writes the record from the stream's current position.
void save_sign_tuple_to_stream(Sys::OutputStream& stream, const std::vector<BYTE>& signature,
                               const Crypto::X509Certificate& certificate);

// Reads one record from the stream's current position; what follows it is
// left unread.
void load_sign_tuple_from_stream(Sys::InputStream& stream, std::vector<BYTE>& signature,
                                 Crypto::X509Certificate& certificate);

}  // namespace Aux
