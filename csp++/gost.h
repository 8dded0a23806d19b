// The identifiers of the GOST providers. Windows' own headers do not declare
// them, since no provider of the system offers GOST; where a header does, its
// definition is kept.
#pragma once

#include <windows.h>
#include <wincrypt.h>

// The provider types: GOST R 34.10-2001, and GOST R 34.10-2012 with 256- and
// 512-bit keys.
#ifndef PROV_GOST_2001_DH
#define PROV_GOST_2001_DH 75
#endif
#ifndef PROV_GOST_2012_256
#define PROV_GOST_2012_256 80
#endif
#ifndef PROV_GOST_2012_512
#define PROV_GOST_2012_512 81
#endif

// GOST R 34.11-94 (0x801E), the hash of 2001 keys, and GOST R 34.11-2012
// with 256- and 512-bit output (0x8021, 0x8022), the hashes of 2012 keys.
#ifndef ALG_SID_GR3411
#define ALG_SID_GR3411 30
#endif
#ifndef CALG_GR3411
#define CALG_GR3411 (ALG_CLASS_HASH | ALG_TYPE_ANY | ALG_SID_GR3411)
#endif
#ifndef ALG_SID_GR3411_2012_256
#define ALG_SID_GR3411_2012_256 33
#endif
#ifndef CALG_GR3411_2012_256
#define CALG_GR3411_2012_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | ALG_SID_GR3411_2012_256)
#endif
#ifndef ALG_SID_GR3411_2012_512
#define ALG_SID_GR3411_2012_512 34
#endif
#ifndef CALG_GR3411_2012_512
#define CALG_GR3411_2012_512 (ALG_CLASS_HASH | ALG_TYPE_ANY | ALG_SID_GR3411_2012_512)
#endif

// The public key algorithms of the certificates these providers sign for.
#ifndef szOID_CP_GOST_R3410EL
#define szOID_CP_GOST_R3410EL "1.2.643.2.2.19"
#endif
#ifndef szOID_CP_GOST_R3410_12_256
#define szOID_CP_GOST_R3410_12_256 "1.2.643.7.1.1.1.1"
#endif
#ifndef szOID_CP_GOST_R3410_12_512
#define szOID_CP_GOST_R3410_12_512 "1.2.643.7.1.1.1.2"
#endif
