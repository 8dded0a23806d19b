// The provider's key containers: <prefix>/keys/<container>/ holds
// private.pem (PKCS#8, plain or password-encrypted, mode 0600) and
// public.der (the SubjectPublicKeyInfo, DER), in a folder of mode 0700.
#pragma once

#include <string>
#include <vector>

#include "advapi32/gostkey.h"

namespace tv {

// <prefix>/keys
std::string keysFolder();

// A container name is one folder name: not empty, no '/', not "." or "..".
bool isValidContainerName(const std::string& name);

// The names of the containers that hold a public key, sorted.
std::vector<std::string> listContainers();

bool containerExists(const std::string& name);

// The public key file's bytes; fails with NTE_BAD_KEYSET when absent.
Bytes readPublicKeyFile(const std::string& name);

// The private key file's text. Fails with NTE_BAD_KEYSET when absent and with
// NTE_PERM when group or others have any access to it (as OpenSSH refuses
// such keys).
std::string readPrivateKeyFile(const std::string& name);

// Writes a container (folders 0700, files 0600); fails with NTE_EXISTS when
// it exists already.
void createContainer(const std::string& name, const std::string& privatePem, const Bytes& publicDer);

// Deletes a container's key files and its folder; fails with NTE_BAD_KEYSET
// when there is no such container.
void removeContainer(const std::string& name);

}  // namespace tv
