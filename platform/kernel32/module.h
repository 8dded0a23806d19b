// Module handles of the stand-in: an HMODULE is the dynamic loader's handle
// of a loaded object (glibc's dlopen handle, which is its link map). A null
// handle names the program, as it does for the Windows module functions.
#pragma once

#include <windows.h>

#include <string>

struct link_map;

namespace tv {

// The loaded object that a handle names; fails with ERROR_INVALID_HANDLE for
// a handle that names no loaded object (so a stale or made-up handle is
// never passed to the loader).
link_map* loadedModule(HMODULE module);

// The full path of a loaded object's file.
std::string modulePath(link_map* module);

// A symbol that the object itself defines (not one of its dependencies'),
// or null.
void* ownSymbol(link_map* module, const char* name);

}  // namespace tv
