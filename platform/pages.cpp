#include "platform/pages.h"

#include <malloc.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <vector>

#if __has_include(<sys/rseq.h>)
#include <sys/rseq.h>
#endif

namespace kp {
namespace {

// ---- Layout ---------------------------------------------------------------------------------
//
// Pooled blocks live in chunks: kChunkBytes of address space aligned to their own size, whose
// first page describes the chunk and whose other pages are cut into blocks of one size. A
// block's chunk is found by rounding its address down. A large block is mapped on its own, one
// page after the page that records its length; released, it is kept whole for a request of the
// same size (up to kLargestKept bytes and a few per processor) or unmapped.

constexpr size_t kChunkBytes = size_t(4) << 20;
// Pooled sizes in pages, four steps per doubling.
constexpr uint16_t kClassPages[] = {1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14,  16,
                                    20, 24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128};
constexpr int kClasses = int(std::size(kClassPages));
constexpr size_t kMaxChunkBlocks = 1024;

size_t PageBytes() {
    static const size_t page = size_t(sysconf(_SC_PAGESIZE));
    return page;
}

size_t BlocksPerChunk(int cls) {
    const size_t page = PageBytes();
    return std::min(kMaxChunkBlocks, (kChunkBytes - page) / (size_t(kClassPages[cls]) * page));
}

// Blocks of up to this many pages are pooled: sizes of which a chunk holds at least seven.
size_t MaxPooledPages() {
    static const size_t pages = [] {
        size_t most = 0;
        for (int c = 0; c < kClasses; ++c) {
            if (BlocksPerChunk(c) >= 7) most = kClassPages[c];
        }
        return most;
    }();
    return pages;
}

int ClassOf(size_t pages) {
    return int(std::lower_bound(std::begin(kClassPages), std::end(kClassPages), pages) -
               std::begin(kClassPages));
}

struct ChunkHeader {
    int cls = 0;
    size_t block_bytes = 0;
    size_t blocks = 0;
    // A bit per block handed out, changed under the lock of the shard the block comes from or
    // goes to.
    std::atomic<uint64_t> live[kMaxChunkBlocks / 64] = {};
    // While its pages are back with the system, waiting to be cut again.
    bool clean = false;
    ChunkHeader* next_clean = nullptr;
    bool returning = false;  // only while ReturnFreePages runs
};

struct LargeHeader {
    size_t mapped = 0;  // bytes, this page included
};

// ---- Which addresses are ours ---------------------------------------------------------------
//
// The bases of the chunks, in an open-addressed table read without a lock; chunks are never
// unmapped, so entries are only ever added. Large blocks are few: their heads sit in a table of
// slots claimed and cleared with one atomic step each, searched up to the highest slot used.

class ChunkRegistry {
public:
    bool Insert(uintptr_t base) {
        for (size_t i = 0; i < kSlots; ++i) {
            std::atomic<uintptr_t>& slot = slots_[(Home(base) + i) & (kSlots - 1)];
            uintptr_t empty = 0;
            if (slot.compare_exchange_strong(empty, base, std::memory_order_acq_rel)) return true;
        }
        return false;
    }

    template <class F>
    void ForEach(F f) const {
        for (const std::atomic<uintptr_t>& slot : slots_) {
            const uintptr_t v = slot.load(std::memory_order_acquire);
            if (v != 0) f(v);
        }
    }

    bool Contains(uintptr_t base) const {
        for (size_t i = 0; i < kSlots; ++i) {
            const uintptr_t v = slots_[(Home(base) + i) & (kSlots - 1)].load(std::memory_order_acquire);
            if (v == base) return true;
            if (v == 0) return false;
        }
        return false;
    }

private:
    static constexpr size_t kSlots = size_t(1) << 16;  // 256 GB of chunks

    static size_t Home(uintptr_t base) {
        return size_t((uint64_t(base >> 22) * 0x9E3779B97F4A7C15ull) >> 48);
    }

    std::atomic<uintptr_t> slots_[kSlots] = {};
};

class LargeRegistry {
public:
    bool Insert(uintptr_t head) {
        for (size_t i = 0; i < kSlots; ++i) {
            uintptr_t empty = 0;
            if (slots_[i].load(std::memory_order_relaxed) == 0 &&
                slots_[i].compare_exchange_strong(empty, head, std::memory_order_acq_rel)) {
                size_t top = top_.load(std::memory_order_relaxed);
                while (top < i + 1 && !top_.compare_exchange_weak(top, i + 1, std::memory_order_relaxed)) {
                }
                return true;
            }
        }
        return false;
    }

    bool Erase(uintptr_t head) {
        const size_t top = top_.load(std::memory_order_relaxed);
        for (size_t i = 0; i < top; ++i) {
            uintptr_t expected = head;
            if (slots_[i].load(std::memory_order_acquire) == head &&
                slots_[i].compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) {
                return true;
            }
        }
        return false;
    }

private:
    static constexpr size_t kSlots = 8192;
    std::atomic<uintptr_t> slots_[kSlots] = {};
    std::atomic<size_t> top_{0};
};

ChunkRegistry g_chunks;
LargeRegistry g_large;

// ---- The pools, one shard per processor ------------------------------------------------------
//
// A thread takes and returns blocks in the shard of the processor it runs on, so workers bound to
// different processors use different locks. A shard with no block of the size wanted takes one
// from another shard before cutting a fresh one from its chunk. Each shard also keeps a few
// released large blocks whole, for a request of the same size.

constexpr unsigned kShards = 64;
constexpr int kLargeKept = 4;                                 // per shard
constexpr size_t kLargestKept = size_t(16) << 20;             // bytes of a block
constexpr size_t kLargeKeptLimit = size_t(512) << 20;         // bytes kept in all shards together

struct alignas(64) Shard {
    std::mutex mutex;
    void* free_list[kClasses] = {};  // released blocks, linked through their first word
    std::atomic<uint32_t> free_count[kClasses] = {};  // read without the lock to skip empty lists
    char* carve[kClasses] = {};      // the next fresh block of the chunk being cut
    char* carve_end[kClasses] = {};
    ChunkHeader* carve_chunk[kClasses] = {};
    char* large_head[kLargeKept] = {};  // released large blocks kept whole (their first page)
    size_t large_mapped[kLargeKept] = {};  // and their mapped bytes
    std::atomic<int> large_count{0};
    std::atomic<long> live{0};       // blocks taken here less blocks returned here
};

Shard g_shards[kShards];
std::atomic<long> g_large_live{0};
std::atomic<size_t> g_large_kept_bytes{0};
std::atomic<int> g_fail_next{0};
std::atomic<size_t> g_trims{0};
std::atomic<size_t> g_mappings{0};
// Chunks whose pages went back to the system, by class; taken only when a shard needs a chunk.
std::mutex g_clean_mutex;
ChunkHeader* g_clean[kClasses] = {};

unsigned ShardCount() {
    static const unsigned count = [] {
        const long n = sysconf(_SC_NPROCESSORS_CONF);
        return unsigned(std::clamp<long>(n, 1, kShards));
    }();
    return count;
}

// The processor this thread runs on, read from the kernel's per-thread record where the C
// library registered one, else through the C library (which uses the vDSO, not a system call).
unsigned CurrentCpu() {
#if defined(RSEQ_SIG)
    if (__rseq_size != 0) {
        const auto* area = reinterpret_cast<const volatile struct rseq*>(
            static_cast<const char*>(__builtin_thread_pointer()) + __rseq_offset);
        const uint32_t cpu = area->cpu_id;
        if (int32_t(cpu) >= 0) return cpu;
    }
#endif
    const int cpu = sched_getcpu();
    return cpu < 0 ? 0u : unsigned(cpu);
}

Shard& ShardAt(unsigned i) { return g_shards[i % ShardCount()]; }

ChunkHeader* ChunkOf(const void* block) {
    return reinterpret_cast<ChunkHeader*>(reinterpret_cast<uintptr_t>(block) & ~uintptr_t(kChunkBytes - 1));
}

// The index of a block in its chunk; false when the address is not a block start.
bool BlockIndex(const ChunkHeader* header, uintptr_t p, size_t* index) {
    const uintptr_t first = reinterpret_cast<uintptr_t>(header) + PageBytes();
    if (p < first || (p - first) % header->block_bytes != 0) return false;
    *index = (p - first) / header->block_bytes;
    return *index < header->blocks;
}

// Records a block as handed out (under the lock of the shard it was taken from).
char* MarkLive(char* block) {
    ChunkHeader* header = ChunkOf(block);
    size_t i = 0;
    BlockIndex(header, reinterpret_cast<uintptr_t>(block), &i);
    header->live[i / 64].fetch_or(uint64_t(1) << (i % 64), std::memory_order_relaxed);
    return block;
}

char* Pop(Shard& s, int cls) {
    void* head = s.free_list[cls];
    if (head == nullptr) return nullptr;
    void* next;
    std::memcpy(&next, head, sizeof next);
    s.free_list[cls] = next;
    s.free_count[cls].fetch_sub(1, std::memory_order_relaxed);
    return static_cast<char*>(head);
}

void Push(Shard& s, int cls, void* block) {
    std::memcpy(block, &s.free_list[cls], sizeof(void*));
    s.free_list[cls] = block;
    s.free_count[cls].fetch_add(1, std::memory_order_relaxed);
}

char* Steal(int cls, unsigned self) {
    const unsigned n = ShardCount();
    for (unsigned k = 1; k < n; ++k) {
        Shard& other = g_shards[(self + k) % n];
        if (other.free_count[cls].load(std::memory_order_relaxed) == 0) continue;
        std::lock_guard<std::mutex> lock(other.mutex);
        if (char* block = Pop(other, cls)) return MarkLive(block);
    }
    return nullptr;
}

// A fresh chunk for blocks of class cls: its header written, its base registered.
char* NewChunk(int cls) {
    // Twice the size, then the ends outside the aligned chunk are given back.
    void* raw = mmap(nullptr, 2 * kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    g_mappings.fetch_add(1, std::memory_order_relaxed);
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t base = (start + kChunkBytes - 1) & ~uintptr_t(kChunkBytes - 1);
    if (base > start) munmap(raw, base - start);
    const uintptr_t end = start + 2 * kChunkBytes;
    if (end > base + kChunkBytes) munmap(reinterpret_cast<void*>(base + kChunkBytes), end - base - kChunkBytes);
    auto* header = new (reinterpret_cast<void*>(base)) ChunkHeader;
    header->cls = cls;
    header->block_bytes = size_t(kClassPages[cls]) * PageBytes();
    header->blocks = BlocksPerChunk(cls);
    if (!g_chunks.Insert(base)) {
        munmap(reinterpret_cast<void*>(base), kChunkBytes);
        return nullptr;
    }
    return reinterpret_cast<char*>(base);
}

char* TakeCleanChunk(int cls) {
    std::lock_guard<std::mutex> lock(g_clean_mutex);
    ChunkHeader* header = g_clean[cls];
    if (header == nullptr) return nullptr;
    g_clean[cls] = header->next_clean;
    header->next_clean = nullptr;
    header->clean = false;
    return reinterpret_cast<char*>(header);
}

// A never-used block (its pages as the system gave them: zero) cut from the shard's chunk.
char* Carve(Shard& s, int cls) {
    if (s.carve[cls] == s.carve_end[cls]) {
        char* chunk = TakeCleanChunk(cls);
        if (chunk == nullptr) chunk = NewChunk(cls);
        if (chunk == nullptr) return nullptr;
        auto* header = reinterpret_cast<ChunkHeader*>(chunk);
        s.carve_chunk[cls] = header;
        s.carve[cls] = chunk + PageBytes();
        s.carve_end[cls] = s.carve[cls] + header->blocks * header->block_bytes;
    }
    char* block = s.carve[cls];
    s.carve[cls] += size_t(kClassPages[cls]) * PageBytes();
    return block;
}

void* AllocPooled(size_t pages) {
    const int cls = ClassOf(pages);
    const unsigned self = CurrentCpu() % ShardCount();
    Shard& s = g_shards[self];
    char* block = nullptr;
    bool fresh = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        block = Pop(s, cls);
        if (block != nullptr) MarkLive(block);
    }
    if (block == nullptr) block = Steal(cls, self);
    if (block == nullptr) {
        std::lock_guard<std::mutex> lock(s.mutex);
        block = Carve(s, cls);
        if (block != nullptr) MarkLive(block);
        fresh = true;
    }
    if (block == nullptr) return nullptr;
    s.live.fetch_add(1, std::memory_order_relaxed);
    // A block used before is cleared here, on the thread that asked for it.
    if (!fresh) std::memset(block, 0, pages * PageBytes());
    return block;
}

// A kept large block of exactly this mapping, from this processor's shard first.
char* TakeKeptLarge(size_t mapped) {
    const unsigned n = ShardCount();
    const unsigned self = CurrentCpu() % n;
    for (unsigned k = 0; k < n; ++k) {
        Shard& s = g_shards[(self + k) % n];
        if (s.large_count.load(std::memory_order_relaxed) == 0) continue;
        std::lock_guard<std::mutex> lock(s.mutex);
        const int count = s.large_count.load(std::memory_order_relaxed);
        for (int i = 0; i < count; ++i) {
            if (s.large_mapped[i] != mapped) continue;
            char* head = s.large_head[i];
            s.large_head[i] = s.large_head[count - 1];
            s.large_mapped[i] = s.large_mapped[count - 1];
            s.large_count.store(count - 1, std::memory_order_relaxed);
            g_large_kept_bytes.fetch_sub(mapped, std::memory_order_relaxed);
            return head;
        }
    }
    return nullptr;
}

// Keeps a released large block in this processor's shard; false when there is no room.
bool KeepLarge(char* head, size_t mapped) {
    // Up to kLargestKept bytes asked for, and the page the caller's few spare bytes may add.
    if (mapped - PageBytes() > kLargestKept + PageBytes()) return false;
    if (g_large_kept_bytes.fetch_add(mapped, std::memory_order_relaxed) + mapped > kLargeKeptLimit) {
        g_large_kept_bytes.fetch_sub(mapped, std::memory_order_relaxed);
        return false;
    }
    Shard& s = ShardAt(CurrentCpu());
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        const int count = s.large_count.load(std::memory_order_relaxed);
        if (count < kLargeKept) {
            s.large_head[count] = head;
            s.large_mapped[count] = mapped;
            s.large_count.store(count + 1, std::memory_order_relaxed);
            return true;
        }
    }
    g_large_kept_bytes.fetch_sub(mapped, std::memory_order_relaxed);
    return false;
}

void* AllocLarge(size_t pages) {
    const size_t page = PageBytes();
    const size_t mapped = (pages + 1) * page;
    char* head = TakeKeptLarge(mapped);
    const bool fresh = head == nullptr;
    if (fresh) {
        void* m = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return nullptr;
        g_mappings.fetch_add(1, std::memory_order_relaxed);
        head = static_cast<char*>(m);
        new (head) LargeHeader{mapped};
    }
    if (!g_large.Insert(reinterpret_cast<uintptr_t>(head))) {
        munmap(head, mapped);
        return nullptr;
    }
    g_large_live.fetch_add(1, std::memory_order_relaxed);
    // A block used before is cleared here, on the thread that asked for it.
    if (!fresh) std::memset(head + page, 0, pages * page);
    return head + page;
}

}  // namespace

void* AllocPages(size_t size) {
    int pending = g_fail_next.load(std::memory_order_relaxed);
    while (pending > 0) {
        if (g_fail_next.compare_exchange_weak(pending, pending - 1)) return nullptr;
    }
    const size_t page = PageBytes();
    if (size == 0) size = 1;
    if (size > (SIZE_MAX >> 2)) return nullptr;
    const size_t pages = (size + page - 1) / page;
    return pages <= MaxPooledPages() ? AllocPooled(pages) : AllocLarge(pages);
}

bool FreePages(void* block) {
    if (block == nullptr) return false;
    const uintptr_t p = reinterpret_cast<uintptr_t>(block);
    ChunkHeader* header = ChunkOf(block);
    if (g_chunks.Contains(reinterpret_cast<uintptr_t>(header))) {
        size_t i = 0;
        if (!BlockIndex(header, p, &i)) return false;
        const uint64_t bit = uint64_t(1) << (i % 64);
        Shard& s = ShardAt(CurrentCpu());
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if ((header->live[i / 64].fetch_and(~bit, std::memory_order_relaxed) & bit) == 0) return false;
            Push(s, header->cls, block);
        }
        s.live.fetch_sub(1, std::memory_order_relaxed);
        return true;
    }
    const size_t page = PageBytes();
    if (p % page != 0 || p < page) return false;
    const uintptr_t head = p - page;
    if (!g_large.Erase(head)) return false;
    const size_t mapped = reinterpret_cast<const LargeHeader*>(head)->mapped;
    g_large_live.fetch_sub(1, std::memory_order_relaxed);
    if (KeepLarge(reinterpret_cast<char*>(head), mapped)) return true;
    return munmap(reinterpret_cast<void*>(head), mapped) == 0;
}

size_t LivePageBlocks() {
    long live = g_large_live.load(std::memory_order_relaxed);
    for (const Shard& s : g_shards) live += s.live.load(std::memory_order_relaxed);
    return size_t(std::max(0L, live));
}

void ReturnFreePages() {
    const unsigned n = ShardCount();
    std::vector<std::unique_lock<std::mutex>> locks;
    for (unsigned i = 0; i < n; ++i) locks.emplace_back(g_shards[i].mutex);

    // The large blocks kept for reuse.
    for (unsigned i = 0; i < n; ++i) {
        Shard& s = g_shards[i];
        const int count = s.large_count.load(std::memory_order_relaxed);
        for (int k = 0; k < count; ++k) {
            munmap(s.large_head[k], s.large_mapped[k]);
            g_large_kept_bytes.fetch_sub(s.large_mapped[k], std::memory_order_relaxed);
            s.large_head[k] = nullptr;
        }
        s.large_count.store(0, std::memory_order_relaxed);
    }

    // Chunks none of whose blocks is handed out.
    std::vector<ChunkHeader*> idle;
    g_chunks.ForEach([&idle](uintptr_t base) {
        auto* header = reinterpret_cast<ChunkHeader*>(base);
        if (header->clean) return;
        for (const std::atomic<uint64_t>& word : header->live) {
            if (word.load(std::memory_order_relaxed) != 0) return;
        }
        header->returning = true;
        idle.push_back(header);
    });
    if (idle.empty()) return;

    // Their blocks leave the lists, and the shards cutting them stop.
    for (unsigned i = 0; i < n; ++i) {
        Shard& s = g_shards[i];
        for (int c = 0; c < kClasses; ++c) {
            void* previous = nullptr;
            void* block = s.free_list[c];
            while (block != nullptr) {
                void* next;
                std::memcpy(&next, block, sizeof next);
                if (ChunkOf(block)->returning) {
                    if (previous == nullptr) {
                        s.free_list[c] = next;
                    } else {
                        std::memcpy(previous, &next, sizeof next);
                    }
                    s.free_count[c].fetch_sub(1, std::memory_order_relaxed);
                } else {
                    previous = block;
                }
                block = next;
            }
            if (s.carve_chunk[c] != nullptr && s.carve_chunk[c]->returning) {
                s.carve[c] = s.carve_end[c] = nullptr;
                s.carve_chunk[c] = nullptr;
            }
        }
    }

    std::lock_guard<std::mutex> lock(g_clean_mutex);
    for (ChunkHeader* header : idle) {
        madvise(reinterpret_cast<char*>(header) + PageBytes(), kChunkBytes - PageBytes(), MADV_DONTNEED);
        header->returning = false;
        header->clean = true;
        header->next_clean = g_clean[header->cls];
        g_clean[header->cls] = header;
    }
}

void SetHeapRules() {
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // Setting any threshold stops the C library from raising the mapping threshold by itself
    // (it would stay at its start value of 128 KB), so that one is set as well.
    // A library with a lower ceiling (a 32-bit one) takes the largest it allows.
    for (size_t t = kHeapMappingThreshold; t >= (size_t(128) << 10); t /= 2) {
        if (mallopt(M_MMAP_THRESHOLD, int(t)) == 1) break;
    }
}

int TrimHeap() {
    g_trims.fetch_add(1, std::memory_order_relaxed);
    return malloc_trim(0);
}

size_t HeapTrims() { return g_trims.load(std::memory_order_relaxed); }

size_t SystemMappings() { return g_mappings.load(std::memory_order_relaxed); }

void FailNextPageAllocations(int n) { g_fail_next.store(n < 0 ? 0 : n); }

}  // namespace kp
