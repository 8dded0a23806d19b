// The task allocator: memory that one module allocates and another frees
// (ProgID texts, descriptions handed across interfaces).
#include <objbase.h>

#include <cstdlib>

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb != 0 ? cb : 1); }

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb != 0 ? cb : 1); }

void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }
