#include "core/fixheap.h"

#include "core/report.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrel {

namespace {

constexpr const char* kSource = "fixheap";
// Chunks start on this boundary, so block alignments up to it hold for the
// addresses themselves, not only for offsets within the chunk.
constexpr std::size_t kChunkAlignment = 64;

std::size_t RoundUp(std::size_t value, std::size_t multiple)
{
    return (value + multiple - 1) / multiple * multiple;
}

} // namespace

// The header sits at the start of the chunk's own allocation, followed by the
// bitmap and the blocks.
class BlockPool::Chunk {
public:
    static Chunk* Create(std::size_t bytes, std::size_t requestedBlockSize, std::size_t alignment)
    {
        if (bytes <= sizeof(Chunk))
            return nullptr;
        void* memory = ::operator new(bytes, std::align_val_t{kChunkAlignment}, std::nothrow);
        if (!memory)
            return nullptr;
        auto* chunk = new (memory) Chunk();
        if (!chunk->Layout(bytes, requestedBlockSize, alignment)) {
            Destroy(chunk);
            return nullptr;
        }
        return chunk;
    }

    static void Destroy(Chunk* chunk)
    {
        chunk->~Chunk();
        ::operator delete(static_cast<void*>(chunk), std::align_val_t{kChunkAlignment});
    }

    void* Alloc()
    {
        std::lock_guard guard(m_lock);
        if (m_freeCount == 0)
            return nullptr;
        std::size_t byteIndex = 0;
        const std::size_t bitmapBytes = (m_blockCount + 7) / 8;
        while (byteIndex < bitmapBytes && m_bitmap[byteIndex] == 0xFF)
            ++byteIndex;
        for (std::size_t index = byteIndex * 8; index < m_blockCount; ++index) {
            if (!TestBit(index)) {
                SetBit(index, true);
                --m_freeCount;
                return m_first + index * m_blockSize;
            }
        }
        // The free count said there was room: the bitmap disagrees.
        AssertReport("0", kSource, __LINE__);
        return nullptr;
    }

    // Takes the block back when it is one of this chunk's blocks in use.
    bool Free(void* block)
    {
        auto* p = static_cast<std::uint8_t*>(block);
        if (p < m_first || p >= m_end)
            return false;
        const std::size_t offset = static_cast<std::size_t>(p - m_first);
        // Only the exact start of a block is a block.
        if (offset % m_blockSize != 0)
            return false;
        const std::size_t index = offset / m_blockSize;
        std::lock_guard guard(m_lock);
        if (!TestBit(index))
            return false;
        SetBit(index, false);
        ++m_freeCount;
        return true;
    }

    bool Empty() const
    {
        std::lock_guard guard(m_lock);
        return m_freeCount == m_blockCount;
    }
    std::size_t Capacity() const { return m_blockCount; }
    std::size_t InUse() const
    {
        std::lock_guard guard(m_lock);
        return m_blockCount - m_freeCount;
    }

private:
    Chunk() = default;

    bool Layout(std::size_t bytes, std::size_t requestedBlockSize, std::size_t alignment)
    {
        auto* base = reinterpret_cast<std::uint8_t*>(this);
        const std::size_t unit = std::max<std::size_t>(4, RoundUp(std::max<std::size_t>(alignment, 1), 4));
        m_blockSize = std::max<std::size_t>(unit, RoundUp(requestedBlockSize, unit));

        // The most blocks that fit with their bitmap after the header:
        // header + ceil(d / 8) + d * size <= bytes.
        const std::size_t room = bytes - sizeof(Chunk);
        std::size_t count = room * 8 / (m_blockSize * 8 + 1);
        while (count > 0 && (count + 7) / 8 + count * m_blockSize > room)
            --count;
        if (count == 0)
            return false;

        m_bitmap = base + sizeof(Chunk);
        const std::size_t bitmapBytes = (count + 7) / 8;
        std::size_t firstOffset = RoundUp(sizeof(Chunk) + bitmapBytes, unit);
        if (firstOffset + count * m_blockSize > bytes)
            --count; // the rounding of the first block cost one block
        if (count == 0)
            return false;
        m_blockCount = count;
        m_first = base + firstOffset;
        m_end = m_first + count * m_blockSize;
        std::memset(m_bitmap, 0, (count + 7) / 8);
        m_freeCount = count;
        KESTREL_ASSERT(m_end <= base + bytes, kSource);
        return m_end <= base + bytes;
    }

    bool TestBit(std::size_t index) const { return (m_bitmap[index / 8] & (0x80u >> (index % 8))) != 0; }
    void SetBit(std::size_t index, bool used)
    {
        if (used)
            m_bitmap[index / 8] |= static_cast<std::uint8_t>(0x80u >> (index % 8));
        else
            m_bitmap[index / 8] &= static_cast<std::uint8_t>(~(0x80u >> (index % 8)));
    }

    mutable std::mutex m_lock;
    std::size_t m_blockSize = 0;
    std::uint8_t* m_first = nullptr;
    std::uint8_t* m_end = nullptr;
    std::size_t m_blockCount = 0;
    std::size_t m_freeCount = 0;
    std::uint8_t* m_bitmap = nullptr;
};

void BlockPool::ChunkDeleter::operator()(Chunk* chunk) const
{
    Chunk::Destroy(chunk);
}

BlockPool::ChunkPtr BlockPool::CreateChunk() const
{
    return ChunkPtr(Chunk::Create(m_blocksPerChunk * m_blockSize, m_blockSize, m_alignment));
}

bool BlockPool::PoolInit(std::size_t blockSize, std::size_t blocksPerChunk, std::size_t alignment)
{
    std::lock_guard guard(m_lock);
    m_chunks.clear();
    m_current = nullptr;
    if (alignment > kChunkAlignment)
        return false;
    m_alignment = std::max<std::size_t>(alignment, 1);
    m_blockSize = RoundUp(std::max<std::size_t>(blockSize, 1), m_alignment);
    m_blocksPerChunk = blocksPerChunk;
    m_chunks.reserve(16);
    ChunkPtr first = CreateChunk();
    if (!first)
        return false;
    m_current = first.get();
    m_chunks.push_back(std::move(first));
    return true;
}

void* BlockPool::PoolAlloc(std::size_t size)
{
    if (size > m_blockSize)
        return nullptr;
    std::lock_guard guard(m_lock);
    if (m_current) {
        if (void* block = m_current->Alloc())
            return block;
    }
    for (const ChunkPtr& chunk : m_chunks) {
        if (void* block = chunk->Alloc()) {
            m_current = chunk.get();
            return block;
        }
    }
    ChunkPtr fresh = CreateChunk();
    if (!fresh)
        return nullptr;
    void* block = fresh->Alloc();
    m_current = fresh.get();
    m_chunks.push_back(std::move(fresh));
    return block;
}

bool BlockPool::PoolFree(void* block)
{
    if (!block)
        return true;
    std::lock_guard guard(m_lock);
    for (auto it = m_chunks.begin(); it != m_chunks.end(); ++it) {
        Chunk* chunk = it->get();
        if (!chunk->Free(block))
            continue;
        if (chunk == m_current)
            m_current = nullptr;
        if (m_chunks.size() > 1 && chunk->Empty())
            m_chunks.erase(it);
        return true;
    }
    return false;
}

void BlockPool::PoolDestroy()
{
    std::lock_guard guard(m_lock);
    m_chunks.clear();
    m_current = nullptr;
}

std::size_t BlockPool::ChunkCount() const
{
    std::lock_guard guard(m_lock);
    return m_chunks.size();
}

std::size_t BlockPool::ChunkCapacity(std::size_t index) const
{
    std::lock_guard guard(m_lock);
    return index < m_chunks.size() ? m_chunks[index]->Capacity() : 0;
}

std::size_t BlockPool::BlocksInUse() const
{
    std::lock_guard guard(m_lock);
    std::size_t used = 0;
    for (const ChunkPtr& chunk : m_chunks)
        used += chunk->InUse();
    return used;
}

BlockPool& Pool24()
{
    static BlockPool pool(24, 4096, 4);
    return pool;
}

BlockPool& Pool12()
{
    static BlockPool pool(12, 4096, 4);
    return pool;
}

BlockPool& Pool16()
{
    static BlockPool pool(16, 4096, 4);
    return pool;
}

BlockPool& Pool32()
{
    static BlockPool pool(32, 4096, 4);
    return pool;
}

} // namespace kestrel
