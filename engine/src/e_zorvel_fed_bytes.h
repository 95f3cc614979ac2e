// The bytes a running digest has been fed, kept for a copy of the digest to replay: a
// list of blocks that are never moved once written, so that keeping a part costs one
// copy of it. Blocks grow from a small first one (a short digest keeps little) up to a
// largest size; each is wiped when it is freed. A few freed largest blocks stay idle for
// the next digests.
#pragma once

#include <cstddef>

struct zorvel_fed_block {
    zorvel_fed_block *next;
    size_t size; // room for this many bytes
    size_t used;
    unsigned char *bytes() { return reinterpret_cast<unsigned char *>(this + 1); }
    const unsigned char *bytes() const { return reinterpret_cast<const unsigned char *>(this + 1); }
};

// All zero: nothing kept. Lives in the digest context data that OpenSSL copies byte for
// byte, so a copy must start from zorvel_fed_reset before it keeps anything.
struct zorvel_fed_bytes {
    zorvel_fed_block *first;
    zorvel_fed_block *last;
    size_t length;   // bytes kept
    int beyondCap;   // more than the cap fed: nothing kept
};

// Appends a part; beyond `cap` bytes in all keeps nothing more and sets beyondCap. False
// when a block could not be allocated: then the part is not kept at all.
bool zorvel_fed_keep(zorvel_fed_bytes *fed, const void *data, size_t count, size_t cap);

// Keeps what `from` keeps (or that it went beyond the cap) in `to`, which must be empty.
// False when a block could not be allocated: then `to` keeps nothing.
bool zorvel_fed_copy(zorvel_fed_bytes *to, const zorvel_fed_bytes *from, size_t cap);

// Wipes and frees every block and starts empty.
void zorvel_fed_forget(zorvel_fed_bytes *fed);

// Starts empty without freeing: for the byte copy of another context's record.
void zorvel_fed_reset(zorvel_fed_bytes *fed);

// Frees the idle blocks (destroy; no digest may be running).
void zorvel_fed_free_idle(void);
