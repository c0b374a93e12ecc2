// Whole pages of zero-filled memory straight from the system, and handing the C library's free
// heap pages back.
#pragma once

#include <cstddef>

namespace kp {

// Maps size bytes (rounded up to whole pages) of zero-filled read-write memory; the block is
// page-aligned. nullptr when the system refuses.
void* AllocPages(size_t size);
// Releases a block from AllocPages; false for a pointer it did not hand out.
bool FreePages(void* block);
// Number of blocks handed out and not yet released.
size_t LivePageBlocks();
// Hands the heap's free pages back to the system: 1 when memory was released, else 0.
int TrimHeap();

// For tests: the next n calls of AllocPages fail.
void FailNextPageAllocations(int n);

}  // namespace kp
