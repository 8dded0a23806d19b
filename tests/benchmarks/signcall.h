// One signing call through the component, as a page makes it; a failure
// envelope or status stops the benchmark.
#pragma once

#include <oleauto.h>
#include <windows.h>

#include <stdexcept>

#include "shared/clientcrypto.h"

namespace tvbench {

inline void callOperation(BSTR first, BSTR thumbprint, bool text) {
  BSTR result = nullptr;
  ClientCrypto client;
  const HRESULT status =
      text ? client.signString(first, thumbprint, nullptr, &result) : client.signHash(first, thumbprint, nullptr, &result);
  if (status != S_OK || result == nullptr || result[11] != u't') throw std::runtime_error("the operation failed");
  SysFreeString(result);
}

}  // namespace tvbench
