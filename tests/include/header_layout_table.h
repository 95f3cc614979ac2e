/*
 * A PKCS#11 header's constants and record layouts as {name, value} pairs. Each header is
 * compiled in a translation unit of its own, which expands header_layout_names.def into
 * one table; the tables are then compared by name.
 */
#ifndef HEADER_LAYOUT_TABLE_H
#define HEADER_LAYOUT_TABLE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum header_layout_kind {
  HEADER_LAYOUT_CONSTANT, /* name: the constant */
  HEADER_LAYOUT_SIZE,     /* name: the type, value: its sizeof */
  HEADER_LAYOUT_OFFSET    /* name: "type.field", value: its offsetof */
};

struct header_layout_entry {
  enum header_layout_kind kind;
  const char *name;
  unsigned long value;
};

struct header_layout_table {
  const struct header_layout_entry *entries;
  size_t count;
};

/* Our include/pkcs11.h, compiled as C++ and as C. */
struct header_layout_table our_header_layout_cxx(void);
struct header_layout_table our_header_layout_c(void);

/* p11-kit's pkcs11.h. */
struct header_layout_table p11kit_header_layout(void);

#ifdef __cplusplus
}
#endif

#endif /* HEADER_LAYOUT_TABLE_H */
