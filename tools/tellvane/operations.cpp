#include "operations.h"

#include "text.h"

namespace tool {

std::string certificateListEnvelope(HRESULT* status) {
  ClientCrypto clicrypto;
  Bstr envelope;
  const HRESULT result = clicrypto.getCertListAsJson(nullptr, envelope.out());
  if (status != nullptr) *status = result;
  return envelope.utf8();
}

std::string signingEnvelope(SigningOperation operation, const std::string& content, const std::string& thumbprint,
                            HRESULT* status) {
  ClientCrypto clicrypto;
  Bstr first(content), thumb(thumbprint), envelope;
  const HRESULT result = (clicrypto.*operation)(first.get(), thumb.get(), nullptr, envelope.out());
  if (status != nullptr) *status = result;
  return envelope.utf8();
}

}  // namespace tool
