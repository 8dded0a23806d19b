// The platform prefix: the one folder under which the stand-in keeps the
// registry, the certificate stores and the key containers.
#pragma once

#include <string>

namespace tv {

// $TELLVANE_PREFIX, else $XDG_DATA_HOME/tellvane, else
// $HOME/.local/share/tellvane. Read anew on every call, so that a test can
// point a process at a fresh prefix.
std::string platformPrefix();

// Creates a folder and its missing parents with the given mode; true when
// the folder exists afterwards.
bool makeFolders(const std::string& path, unsigned mode = 0700);

}  // namespace tv
