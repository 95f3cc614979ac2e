// The table of our PKCS#11 header, compiled as C++.
#include "pkcs11.h"

#define HEADER_LAYOUT_OURS
#define HEADER_LAYOUT_TABLE_FUNCTION our_header_layout_cxx
#include "collect_header_layout.inc"
