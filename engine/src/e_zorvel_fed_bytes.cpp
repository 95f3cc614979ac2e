#include "e_zorvel_fed_bytes.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <string.h>

#include <openssl/crypto.h>

#include "e_zorvel_internal.h"

namespace {

// The first block holds a short digest's bytes (a TLS transcript runs to a few KiB);
// each next one is as large as all before it, up to kLargestBlock, which with its header
// stays below the C library's threshold (128 KiB) for mapping an allocation of its own.
const size_t kFirstBlock = 256;
const size_t kLargestBlock = 64 * 1024;

// Largest blocks given back, wiped, for the next digests (guarded by the engine lock):
// memory freed to the C library goes back to the system when a large digest ends, and
// the next would fault every page of it in again, which costs more than the digest. As
// many as hold the 1 MiB a digest keeps at most.
const size_t kIdleBlocks = 16;
zorvel_fed_block *idle_blocks = nullptr;
size_t idle_block_count = 0;

// Wipes kept bytes with the C library's memset, which the compiler must keep:
// OPENSSL_cleanse stores eight bytes at a time, five times as long over the blocks of a
// 1 MiB digest (about 5 % of the digest on the token).
void wipe(void *bytes, size_t count)
{
    explicit_bzero(bytes, count);
}

zorvel_fed_block *new_block(size_t size)
{
    void *memory = nullptr;
    if (size == kLargestBlock) {
        zorvel_enter_mutex();
        if (idle_blocks != nullptr) {
            memory = idle_blocks;
            idle_blocks = idle_blocks->next;
            --idle_block_count;
        }
        zorvel_leave_mutex();
    }
    if (memory == nullptr && (memory = OPENSSL_malloc(sizeof(zorvel_fed_block) + size)) == nullptr)
        return nullptr;
    return new (memory) zorvel_fed_block{nullptr, size, 0};
}

// Wipes what each block holds and frees it, but for largest blocks, kept idle up to
// kIdleBlocks. The wipe runs before the engine lock is taken, and the lock only when there
// is a largest block to offer: a short digest ends without it.
void free_blocks(zorvel_fed_block *block)
{
    zorvel_fed_block *largest = nullptr;
    while (block != nullptr) {
        zorvel_fed_block *next = block->next;
        wipe(block->bytes(), block->used);
        if (block->size == kLargestBlock) {
            block->next = largest;
            largest = block;
        } else {
            OPENSSL_free(block);
        }
        block = next;
    }
    if (largest == nullptr)
        return;
    zorvel_enter_mutex();
    while (largest != nullptr && idle_block_count < kIdleBlocks) {
        zorvel_fed_block *next = largest->next;
        largest->next = idle_blocks;
        idle_blocks = largest;
        ++idle_block_count;
        largest = next;
    }
    zorvel_leave_mutex();
    while (largest != nullptr) {
        zorvel_fed_block *next = largest->next;
        OPENSSL_free(largest);
        largest = next;
    }
}

// Takes back what a keep that failed half-way had appended after `last` (used bytes).
void truncate(zorvel_fed_bytes *fed, zorvel_fed_block *last, size_t used, size_t length)
{
    zorvel_fed_block *&after = last != nullptr ? last->next : fed->first;
    free_blocks(after);
    after = nullptr;
    if (last != nullptr) {
        wipe(last->bytes() + used, last->used - used);
        last->used = used;
    }
    fed->last = last;
    fed->length = length;
}

} // namespace

bool zorvel_fed_keep(zorvel_fed_bytes *fed, const void *data, size_t count, size_t cap)
{
    if (fed->beyondCap || count == 0)
        return true;
    if (count > cap - fed->length) {
        zorvel_fed_forget(fed);
        fed->beyondCap = 1;
        return true;
    }
    zorvel_fed_block *const lastBefore = fed->last;
    const size_t usedBefore = lastBefore != nullptr ? lastBefore->used : 0;
    const size_t lengthBefore = fed->length;
    const unsigned char *from = static_cast<const unsigned char *>(data);
    while (count > 0) {
        zorvel_fed_block *block = fed->last;
        if (block == nullptr || block->used == block->size) {
            size_t size = std::min(kLargestBlock, std::max({kFirstBlock, fed->length, count}));
            if ((block = new_block(size)) == nullptr) {
                truncate(fed, lastBefore, usedBefore, lengthBefore);
                return false;
            }
            (fed->last != nullptr ? fed->last->next : fed->first) = block;
            fed->last = block;
        }
        size_t part = std::min(count, block->size - block->used);
        std::memcpy(block->bytes() + block->used, from, part);
        block->used += part;
        fed->length += part;
        from += part;
        count -= part;
    }
    return true;
}

bool zorvel_fed_copy(zorvel_fed_bytes *to, const zorvel_fed_bytes *from, size_t cap)
{
    to->beyondCap = from->beyondCap;
    for (const zorvel_fed_block *block = from->first; block != nullptr; block = block->next) {
        if (!zorvel_fed_keep(to, block->bytes(), block->used, cap)) {
            zorvel_fed_forget(to);
            return false;
        }
    }
    return true;
}

void zorvel_fed_forget(zorvel_fed_bytes *fed)
{
    free_blocks(fed->first);
    zorvel_fed_reset(fed);
}

void zorvel_fed_reset(zorvel_fed_bytes *fed)
{
    *fed = zorvel_fed_bytes{};
}

void zorvel_fed_free_idle(void)
{
    while (idle_blocks != nullptr) {
        zorvel_fed_block *next = idle_blocks->next;
        OPENSSL_free(idle_blocks);
        idle_blocks = next;
    }
    idle_block_count = 0;
}
