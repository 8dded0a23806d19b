// Which key container holds a public key, without reading every container:
// <prefix>/keys.index maps each key to its container. The index is only a
// hint: a container it names is checked before it is used, and a key it
// lacks, a stale index or a wrong entry makes a full search that writes the
// index anew.
#pragma once

#include <string>

#include "advapi32/gostkey.h"

namespace tv {

// The first container (in name order) whose public key is this key; fails
// with CRYPT_E_NO_KEY_PROPERTY when none is.
std::string findKeyContainer(const GostPublicKey& key);

}  // namespace tv
