/* The table of our PKCS#11 header compiled as C; includes the extensions to prove they are C. */
#include "zorvel_p11.h"

#define HEADER_LAYOUT_OURS
#define HEADER_LAYOUT_TABLE_FUNCTION our_header_layout_c
#include "collect_header_layout.inc"
