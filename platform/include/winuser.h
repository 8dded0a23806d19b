// Declared by the COM runtime of the stand-in.
#pragma once

#include "windef.h"
