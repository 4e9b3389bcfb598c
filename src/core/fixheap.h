// Fixed-size block pools: the script's list nodes come from four of them.
//
// A pool hands out blocks of one size from chunks; each chunk is a single
// allocation that holds its own header, a bitmap with one bit per block (most
// significant bit first, 1 = in use) and then the blocks. Pools are
// thread-safe: the pool lock is taken before a chunk's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrel {

class BlockPool {
public:
    BlockPool() = default;
    BlockPool(std::size_t blockSize, std::size_t blocksPerChunk, std::size_t alignment)
    {
        PoolInit(blockSize, blocksPerChunk, alignment);
    }
    ~BlockPool() { PoolDestroy(); }
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // Sets the pool up and creates its first chunk; false when that chunk
    // cannot be created (the pool then creates chunks on demand).
    bool PoolInit(std::size_t blockSize, std::size_t blocksPerChunk, std::size_t alignment);
    // A block of at least `size` bytes, or null when `size` exceeds the block
    // size or memory runs out.
    void* PoolAlloc(std::size_t size);
    // True when a chunk of this pool accepted the block (null counts as
    // accepted); a block freed twice, or not from this pool, is refused.
    bool PoolFree(void* block);
    // Frees every chunk; blocks still in use become invalid.
    void PoolDestroy();

    std::size_t BlockSize() const { return m_blockSize; }
    std::size_t ChunkCount() const;
    // Blocks that chunk `index` holds; 0 for an index past the end.
    std::size_t ChunkCapacity(std::size_t index) const;
    std::size_t BlocksInUse() const;

private:
    class Chunk;
    struct ChunkDeleter {
        void operator()(Chunk* chunk) const;
    };
    using ChunkPtr = std::unique_ptr<Chunk, ChunkDeleter>;

    ChunkPtr CreateChunk() const;

    mutable std::mutex m_lock;
    std::size_t m_blockSize = 0;
    std::size_t m_alignment = 4;
    std::size_t m_blocksPerChunk = 0;
    std::vector<ChunkPtr> m_chunks;
    Chunk* m_current = nullptr;
};

// The four pools every process has: 12, 16, 24 and 32-byte blocks, 4096 per
// chunk, aligned to 4. Created on first use, destroyed at exit.
BlockPool& Pool12();
BlockPool& Pool16();
BlockPool& Pool24();
BlockPool& Pool32();

} // namespace kestrel
