#include "results/readings.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace results {

static constexpr size_t kHuge = size_t(2) << 20;
static constexpr size_t kBlock = size_t(16) << 20;

ReadingArena::~ReadingArena()
{
    for (const Block &b : m_blocks) {
        if (b.mapped)
            munmap(b.base, b.size);
        else
            std::free(b.base);
    }
}

void *ReadingArena::allocate(size_t bytes)
{
    bytes = (bytes + 15) & ~size_t(15);
    if (bytes > m_left) {
        const size_t size = qMax(kBlock, bytes + kHuge);
        void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        Block b{nullptr, size, true};
        if (p == MAP_FAILED) {
            b.base = static_cast<char *>(std::malloc(size));
            b.mapped = false;
            if (!b.base)
                throw std::bad_alloc();
            m_next = b.base;
            m_left = size;
        } else {
            b.base = static_cast<char *>(p);
            // Start at a huge-page boundary so the kernel can use huge pages.
            const quintptr aligned = (quintptr(p) + kHuge - 1) & ~quintptr(kHuge - 1);
            m_next = reinterpret_cast<char *>(aligned);
            m_left = size - (aligned - quintptr(p));
#ifdef MADV_HUGEPAGE
            madvise(m_next, m_left & ~(kHuge - 1), MADV_HUGEPAGE);
#endif
        }
        m_blocks.push_back(b);
    }
    void *out = m_next;
    m_next += bytes;
    m_left -= bytes;
    return out;
}

void ReadingStore::add(double value, bool exact3, qint64 thousandths)
{
    if (!m_doubles && (!exact3 || thousandths < -2147483647 || thousandths > 2147483647))
        toDoubles();
    const size_t chunk = size_t(m_count / kChunk);
    const qint64 slot = m_count % kChunk;
    if (m_doubles) {
        if (chunk == m_dbl.size())
            m_dbl.push_back(static_cast<double *>(m_arena->allocate(kChunk * sizeof(double))));
        m_dbl[chunk][slot] = value;
    } else {
        if (chunk == m_ints.size())
            m_ints.push_back(static_cast<qint32 *>(m_arena->allocate(kChunk * sizeof(qint32))));
        m_ints[chunk][slot] = qint32(thousandths);
    }
    ++m_count;
}

void ReadingStore::toDoubles()
{
    m_doubles = true;
    for (qint64 i = 0; i < m_count; ++i) {
        const size_t chunk = size_t(i / kChunk);
        if (chunk == m_dbl.size())
            m_dbl.push_back(static_cast<double *>(m_arena->allocate(kChunk * sizeof(double))));
        m_dbl[chunk][i % kChunk] = double(m_ints[chunk][i % kChunk]) / 1000.0;
    }
    m_ints.clear();
}

} // namespace results
