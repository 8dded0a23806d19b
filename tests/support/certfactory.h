// Certificates and keys for tests: the provisioning certificate maker under
// the tests' namespace, and files put into a test's platform prefix.
#pragma once

#include "provisioning/certificatemaker.h"

#include <string>

namespace tvtest {

using namespace provisioning;

// Writes a certificate file (DER or PEM bytes) into
// <prefix>/certstores/user/<store>/<fileName> and returns its path.
std::string installCertificate(const std::string& prefix, const std::string& fileName, const Bytes& bytes,
                               const std::string& store = "My");
std::string installCertificate(const std::string& prefix, const std::string& fileName, const std::string& bytes,
                               const std::string& store = "My");

// A name of `count` RDNs, CN=0 to CN=<count-1>, encoded directly: GnuTLS
// takes far too long to build such a name.
Name manyRdns(int count);

// A test name made of a description: letters and digits kept, runs of
// anything else one underscore ("zero inside" -> "zero_inside").
std::string identifierFrom(const std::string& description);

}  // namespace tvtest
