#include "platform/pages.h"

#include <malloc.h>
#include <sys/mman.h>

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace kp {
namespace {

// munmap needs the length: every block's length, by address (workers allocate too).
std::mutex g_mutex;
std::unordered_map<void*, size_t>& Blocks() {
    static std::unordered_map<void*, size_t> blocks;
    return blocks;
}
std::atomic<int> g_fail_next{0};

}  // namespace

void* AllocPages(size_t size) {
    int pending = g_fail_next.load();
    while (pending > 0) {
        if (g_fail_next.compare_exchange_weak(pending, pending - 1)) return nullptr;
    }
    if (size == 0) size = 1;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    Blocks()[p] = size;
    return p;
}

bool FreePages(void* block) {
    if (block == nullptr) return false;
    size_t size;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = Blocks().find(block);
        if (it == Blocks().end()) return false;
        size = it->second;
        Blocks().erase(it);
    }
    return munmap(block, size) == 0;
}

size_t LivePageBlocks() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Blocks().size();
}

int TrimHeap() { return malloc_trim(0); }

void FailNextPageAllocations(int n) { g_fail_next.store(n < 0 ? 0 : n); }

}  // namespace kp
