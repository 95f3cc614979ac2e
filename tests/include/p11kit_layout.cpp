// The table of p11-kit's PKCS#11 header, the independent reference for our numbers.
#include "header_layout_table.h"

// The standard PKCS#11 names (p11-kit's default, as opposed to CRYPTOKI_GNU).
#define CRYPTOKI_COMPAT 1
#include <p11-kit/pkcs11.h>

#define HEADER_LAYOUT_P11KIT
#define HEADER_LAYOUT_TABLE_FUNCTION p11kit_header_layout
#include "collect_header_layout.inc"
