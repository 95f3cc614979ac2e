// The bytes a running digest keeps for a copy, on their own: what is kept after a keep
// or a copy whose allocation fails, the wipe of every freed block, and the engine lock,
// which the test counts in place of the engine's (a short digest must end without it).
#include "e_zorvel_fed_bytes.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include "e_zorvel_internal.h"

namespace {

int lock_depth = 0;
int lock_takes = 0;

// OpenSSL's allocations in this program: counted, one of them failing on demand, and
// every freed block checked for the bytes it kept.
struct allocations {
    int count = 0;
    int failing = 0;         // the allocation that fails (1 for the next one); 0 none
    size_t watched_size = 0; // allocations of this size are counted apart
    int watched = 0;
    int unwiped_frees = 0;
};
allocations heap;

void *counting_malloc(size_t size, const char *, int)
{
    ++heap.count;
    if (size == heap.watched_size)
        ++heap.watched;
    if (heap.failing != 0 && --heap.failing == 0)
        return nullptr;
    return std::malloc(size);
}

void *plain_realloc(void *block, size_t size, const char *, int)
{
    return std::realloc(block, size);
}

// Every block the program frees through OpenSSL is a block of kept bytes.
void checking_free(void *memory, const char *, int)
{
    if (memory != nullptr) {
        const zorvel_fed_block *block = static_cast<const zorvel_fed_block *>(memory);
        for (size_t i = 0; i < block->used; ++i) {
            if (block->bytes()[i] != 0) {
                ++heap.unwiped_frees;
                break;
            }
        }
    }
    std::free(memory);
}

const bool memory_functions = CRYPTO_set_mem_functions(counting_malloc, plain_realloc, checking_free) == 1;

const size_t kCap = 1024 * 1024;

std::string kept(const zorvel_fed_bytes &fed)
{
    std::string bytes;
    for (const zorvel_fed_block *block = fed.first; block != nullptr; block = block->next)
        bytes.append(reinterpret_cast<const char *>(block->bytes()), block->used);
    return bytes;
}

bool keep(zorvel_fed_bytes *fed, const std::string &part)
{
    return zorvel_fed_keep(fed, part.data(), part.size(), kCap);
}

// A part of `size` bytes that differs from its neighbours.
std::string part_of(size_t size, char fill)
{
    std::string part(size, fill);
    part[0] = static_cast<char>(fill + 1);
    return part;
}

class FedBytesTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(memory_functions);
        heap = allocations{};
        lock_takes = 0;
    }
    void TearDown() override
    {
        zorvel_fed_forget(&fed_);
        zorvel_fed_free_idle();
        EXPECT_EQ(lock_depth, 0);
        EXPECT_EQ(heap.unwiped_frees, 0);
    }

    zorvel_fed_bytes fed_{};
};

// Starts empty, with no idle block left to stand in for an allocation.
void start_empty(zorvel_fed_bytes *fed)
{
    zorvel_fed_forget(fed);
    zorvel_fed_free_idle();
}

// A part that needs several new blocks, with each of its allocations failing in turn: the
// keep fails, what was kept before stays as it was, and the part is kept when memory
// comes back.
TEST_F(FedBytesTest, FailedKeepLeavesWhatWasKeptBefore)
{
    const std::string before = part_of(300, 'a');
    const std::string part = part_of(200000, 'k');
    int failing = 1;
    for (;; ++failing) {
        start_empty(&fed_);
        ASSERT_TRUE(keep(&fed_, before));
        heap.failing = failing;
        const bool kept_part = keep(&fed_, part);
        heap.failing = 0;
        if (kept_part)
            break;
        EXPECT_EQ(fed_.length, before.size()) << failing;
        EXPECT_EQ(kept(fed_), before) << failing;
        ASSERT_TRUE(keep(&fed_, part)) << failing;
        EXPECT_EQ(kept(fed_), before + part) << failing;
    }
    EXPECT_GT(failing, 3) << "the part needs several blocks";
}

// A copy whose allocations fail in turn keeps nothing and leaves the original as it was.
TEST_F(FedBytesTest, FailedCopyKeepsNothing)
{
    const std::string fed = part_of(300, 'a') + part_of(70000, 'b');
    int failing = 1;
    for (;; ++failing) {
        start_empty(&fed_);
        ASSERT_TRUE(keep(&fed_, fed));
        zorvel_fed_bytes copy{};
        heap.failing = failing;
        const bool copied = zorvel_fed_copy(&copy, &fed_, kCap);
        heap.failing = 0;
        if (copied) {
            EXPECT_EQ(kept(copy), fed);
            zorvel_fed_forget(&copy);
            break;
        }
        EXPECT_EQ(copy.first, nullptr) << failing;
        EXPECT_EQ(copy.length, 0U) << failing;
        EXPECT_EQ(kept(fed_), fed) << failing;
    }
    EXPECT_GT(failing, 2) << "the copy needs several blocks";
}

// Beyond the cap nothing is kept (and what was kept is wiped), and a copy says so too.
TEST_F(FedBytesTest, BeyondTheCapNothingIsKept)
{
    ASSERT_TRUE(keep(&fed_, part_of(kCap - 10, 'a')));
    ASSERT_TRUE(keep(&fed_, part_of(11, 'b')));
    EXPECT_EQ(fed_.beyondCap, 1);
    EXPECT_EQ(fed_.first, nullptr);
    ASSERT_TRUE(keep(&fed_, "more"));
    EXPECT_EQ(fed_.first, nullptr);
    zorvel_fed_bytes copy{};
    ASSERT_TRUE(zorvel_fed_copy(&copy, &fed_, kCap));
    EXPECT_EQ(copy.beyondCap, 1);
    EXPECT_EQ(copy.first, nullptr);
}

// A digest of a TLS handshake's size keeps small blocks only: it ends without the
// engine lock, which every other operation of the process waits for.
TEST_F(FedBytesTest, ShortDigestEndsWithoutTheEngineLock)
{
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(keep(&fed_, part_of(100, static_cast<char>('a' + i % 20))));
    lock_takes = 0;
    zorvel_fed_forget(&fed_);
    EXPECT_EQ(lock_takes, 0);
}

// A digest fed up to the cap, in one part or in 16 KiB parts, gives its largest blocks
// back; the next such digest takes all of them from there and allocates none.
TEST_F(FedBytesTest, DigestAtTheCapReusesTheIdleBlocks)
{
    ASSERT_TRUE(keep(&fed_, part_of(kCap, 'a')));
    const size_t largest = fed_.first->size;
    heap.watched_size = sizeof(zorvel_fed_block) + largest;
    for (size_t part : {kCap, size_t{16384}}) {
        zorvel_fed_forget(&fed_);
        heap.watched = 0;
        for (size_t at = 0; at < kCap; at += part)
            ASSERT_TRUE(keep(&fed_, part_of(part, 'b')));
        EXPECT_EQ(fed_.length, kCap);
        EXPECT_EQ(heap.watched, 0) << part;
    }
}

} // namespace

// The engine lock, counted.
void zorvel_enter_mutex(void)
{
    ++lock_depth;
    ++lock_takes;
}

void zorvel_leave_mutex(void)
{
    --lock_depth;
}
