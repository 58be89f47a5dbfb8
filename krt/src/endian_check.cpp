// Compile-time proof that the little-endian helpers are usable in constant contexts is not
// needed; this unit only keeps the library target non-empty until the first real unit lands.
#include "krt/endian.h"
