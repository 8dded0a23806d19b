// The identifiers of the GOST providers. Windows' own headers do not declare
// them, since no provider of the system offers GOST; where a header does, its
// definition is kept.
#pragma once

#include <windows.h>
#include <wincrypt.h>

// The provider type of GOST R 34.10-2001 signature and key-exchange providers.
#ifndef PROV_GOST_2001_DH
#define PROV_GOST_2001_DH 75
#endif

// GOST R 34.11-94, the hash algorithm of those providers (0x801E).
#ifndef ALG_SID_GR3411
#define ALG_SID_GR3411 30
#endif
#ifndef CALG_GR3411
#define CALG_GR3411 (ALG_CLASS_HASH | ALG_TYPE_ANY | ALG_SID_GR3411)
#endif
