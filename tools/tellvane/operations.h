// The client operations called as a page calls them: UTF-8 texts in, the
// result envelope out as UTF-8, with the operation's status.
#pragma once

#include "shared/clientcrypto.h"

#include <string>

namespace tool {

using SigningOperation = HRESULT (ClientCrypto::*)(BSTR, BSTR, BSTR, BSTR*);

std::string certificateListEnvelope(HRESULT* status = nullptr);
// signHash or signString of the content with the certificate of the
// thumbprint; no PIN is passed, as the operations never read it.
std::string signingEnvelope(SigningOperation operation, const std::string& content, const std::string& thumbprint,
                            HRESULT* status = nullptr);

}  // namespace tool
