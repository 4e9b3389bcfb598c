#include "core/fixheap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

// Fills the first chunk completely; returns its blocks.
std::vector<void*> FillFirstChunk(BlockPool& pool)
{
    std::vector<void*> blocks;
    const std::size_t capacity = pool.ChunkCapacity(0);
    for (std::size_t i = 0; i < capacity; ++i)
        blocks.push_back(pool.PoolAlloc(pool.BlockSize()));
    return blocks;
}

TEST(BlockPool, ChunkHoldsFewerBlocksThanNominalAndGrowsASecondChunk)
{
    BlockPool pool(16, 64, 4);
    const std::size_t capacity = pool.ChunkCapacity(0);
    // The header and bitmap share the chunk's allocation with the blocks.
    EXPECT_LT(capacity, 64u);
    EXPECT_GT(capacity, 48u);

    std::vector<void*> blocks = FillFirstChunk(pool);
    std::set<void*> distinct(blocks.begin(), blocks.end());
    EXPECT_EQ(distinct.size(), capacity);
    EXPECT_EQ(distinct.count(nullptr), 0u);
    EXPECT_EQ(pool.ChunkCount(), 1u);

    void* extra = pool.PoolAlloc(16);
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(pool.ChunkCount(), 2u);
    EXPECT_EQ(distinct.count(extra), 0u);

    // Emptying the second chunk frees it.
    EXPECT_TRUE(pool.PoolFree(extra));
    EXPECT_EQ(pool.ChunkCount(), 1u);

    // Emptying the only chunk keeps it.
    for (void* block : blocks)
        EXPECT_TRUE(pool.PoolFree(block));
    EXPECT_EQ(pool.ChunkCount(), 1u);
    EXPECT_EQ(pool.BlocksInUse(), 0u);
}

TEST(BlockPool, SecondFreeAndForeignPointersAreRefused)
{
    BlockPool pool(24, 128, 4);
    void* a = pool.PoolAlloc(24);
    void* b = pool.PoolAlloc(1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pool.BlocksInUse(), 2u);

    EXPECT_TRUE(pool.PoolFree(a));
    EXPECT_FALSE(pool.PoolFree(a));
    EXPECT_EQ(pool.BlocksInUse(), 1u);

    int onTheStack = 0;
    EXPECT_FALSE(pool.PoolFree(&onTheStack));
    EXPECT_FALSE(pool.PoolFree(static_cast<char*>(b) + 4)); // inside a block, not its start
    EXPECT_TRUE(pool.PoolFree(nullptr));
    EXPECT_EQ(pool.BlocksInUse(), 1u);

    // The freed block is handed out again first.
    EXPECT_EQ(pool.PoolAlloc(8), a);
}

TEST(BlockPool, SizesAboveTheBlockSizeAreRefused)
{
    BlockPool pool(12, 64, 8);
    EXPECT_EQ(pool.BlockSize(), 16u); // rounded up to the alignment
    EXPECT_NE(pool.PoolAlloc(16), nullptr);
    EXPECT_EQ(pool.PoolAlloc(17), nullptr);
}

TEST(BlockPool, BlocksAreAlignedAndDoNotOverlap)
{
    BlockPool pool(12, 256, 8);
    std::vector<unsigned char*> blocks;
    for (int i = 0; i < 200; ++i) {
        auto* p = static_cast<unsigned char*>(pool.PoolAlloc(12));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 8, 0u);
        std::memset(p, i, 16);
        blocks.push_back(p);
    }
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(blocks[i][0], static_cast<unsigned char>(i)) << i;
}

TEST(BlockPool, AlignmentsHoldForAddressesUpTo64)
{
    BlockPool pool(40, 64, 16);
    for (int i = 0; i < 100; ++i) {
        void* p = pool.PoolAlloc(40);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    }
    BlockPool wide;
    EXPECT_FALSE(wide.PoolInit(8, 64, 128)); // beyond what a chunk's start guarantees
    EXPECT_EQ(wide.PoolAlloc(8), nullptr);
}

TEST(BlockPool, TooSmallChunkFailsCleanly)
{
    BlockPool pool;
    EXPECT_FALSE(pool.PoolInit(64, 1, 4)); // one block's room cannot also hold the header
    EXPECT_EQ(pool.PoolAlloc(8), nullptr);
}

TEST(BlockPool, ThreadsShareAPool)
{
    BlockPool pool(32, 64, 4);
    auto worker = [&pool] {
        std::vector<void*> held;
        for (int round = 0; round < 2000; ++round) {
            held.push_back(pool.PoolAlloc(32));
            if (held.size() > 100) {
                for (void* p : held)
                    ASSERT_TRUE(pool.PoolFree(p));
                held.clear();
            }
        }
        for (void* p : held)
            ASSERT_TRUE(pool.PoolFree(p));
    };
    std::thread t1(worker), t2(worker);
    t1.join();
    t2.join();
    EXPECT_EQ(pool.BlocksInUse(), 0u);
}

TEST(BlockPool, StandardPools)
{
    EXPECT_EQ(Pool12().BlockSize(), 12u);
    EXPECT_EQ(Pool16().BlockSize(), 16u);
    EXPECT_EQ(Pool24().BlockSize(), 24u);
    EXPECT_EQ(Pool32().BlockSize(), 32u);
    EXPECT_GT(Pool32().ChunkCapacity(0), 4000u);
}

} // namespace
} // namespace kestrel
