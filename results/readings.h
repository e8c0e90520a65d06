#pragma once

// Every reading of one kind at one point, kept for the spread's second pass.
// Readings of three decimals or fewer (nearly all) are kept as 32-bit
// thousandths: m / 1000.0 gives back the very double the text parses to,
// since both are the correctly rounded value of the same fraction. Memory
// comes in large blocks that the kernel may back with huge pages, so a
// million readings cost a handful of page faults instead of thousands.

#include <QtGlobal>
#include <memory>
#include <vector>

namespace results {

class ReadingArena
{
public:
    ReadingArena() = default;
    ~ReadingArena();
    ReadingArena(const ReadingArena &) = delete;
    ReadingArena &operator=(const ReadingArena &) = delete;
    void *allocate(size_t bytes); // 16-byte aligned, lives as long as the arena

private:
    struct Block
    {
        char *base;
        size_t size;
        bool mapped;
    };
    std::vector<Block> m_blocks;
    char *m_next = nullptr;
    size_t m_left = 0;
};

class ReadingStore
{
public:
    explicit ReadingStore(ReadingArena *arena) : m_arena(arena) {}
    // `thousandths` valid: the reading is exactly that many thousandths.
    void add(double value, bool exact3, qint64 thousandths);
    void addThousandths(qint32 thousandths)
    {
        if (m_doubles || m_count % kChunk == 0) {
            add(double(thousandths) / 1000.0, true, thousandths);
            return;
        }
        m_ints.back()[m_count % kChunk] = thousandths;
        ++m_count;
    }
    void endSample() { m_sampleEnds.push_back(m_count); }
    qint64 size() const { return m_count; }
    // Sample by sample from the newest, each sample's readings in order.
    template <typename F> void newestFirst(F f) const;

private:
    static constexpr qint64 kChunk = 16384;
    void toDoubles();

    ReadingArena *m_arena;
    bool m_doubles = false;
    std::vector<qint32 *> m_ints;
    std::vector<double *> m_dbl;
    qint64 m_count = 0;
    std::vector<qint64> m_sampleEnds;
};

template <typename F> void ReadingStore::newestFirst(F f) const
{
    for (size_t s = m_sampleEnds.size(); s-- > 0;) {
        qint64 i = s == 0 ? 0 : m_sampleEnds[s - 1];
        const qint64 to = m_sampleEnds[s];
        // A chunk at a time: the readings of a sample rarely cross one.
        while (i < to) {
            const size_t chunk = size_t(i / kChunk);
            const qint64 offset = i % kChunk;
            const qint64 n = qMin(to - i, kChunk - offset);
            if (m_doubles) {
                const double *d = m_dbl[chunk] + offset;
                for (qint64 k = 0; k < n; ++k)
                    f(d[k]);
            } else {
                const qint32 *m = m_ints[chunk] + offset;
                for (qint64 k = 0; k < n; ++k)
                    f(double(m[k]) / 1000.0);
            }
            i += n;
        }
    }
}

} // namespace results
