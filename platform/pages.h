// Whole pages of zero-filled memory for the suite's blocks, and handing the C library's free
// heap pages back.
//
// Every block starts on a page boundary and owns its pages: no page holds pieces of two blocks.
// Blocks up to a few hundred kilobytes are kept, once released, in pools of a few sizes and
// handed out again zero-filled; the pools are shared by every thread, one shard per processor, so
// that workers on different processors never wait for each other and a worker made for the next
// iteration finds the blocks its predecessor on the same processor released. A pooled block
// costs no system call once the pool has grown to the program's need; the pools keep their
// pages until ReturnFreePages. Larger blocks are mapped one by one; a few released ones of up to
// 16 MB per processor are kept whole for a request of the same size (the kernels ask for the
// same sizes every iteration), the others unmapped.
#pragma once

#include <cstddef>

namespace kp {

// size bytes (rounded up to whole pages) of zero-filled read-write memory, page-aligned, on
// pages of its own. nullptr when the system refuses.
void* AllocPages(size_t size);
// Releases a block from AllocPages; false for a pointer it did not hand out (or handed out and
// took back already).
bool FreePages(void* block);
// Number of blocks handed out and not yet released.
size_t LivePageBlocks();
// Hands the heap's free pages back to the system: 1 when memory was released, else 0.
int TrimHeap();
// The heap's rules for timed work, set once at program start: freed memory goes back to the
// system only through TrimHeap, never by the C library's own trimming; and every block up to
// kHeapMappingThreshold (each picture or surface a test makes, at any screen size the tests
// use) comes from the heap and is used again, never from a mapping of its own that would put a
// mapping, its page faults and its release into the timed work.
inline constexpr size_t kHeapMappingThreshold = size_t(32) << 20;
void SetHeapRules();
// Hands the pages of the pooled blocks back to the system where no block of a pool chunk is in
// use, and unmaps the large blocks kept (for when a test is over); what is needed again comes
// back zero-filled from the system.
void ReturnFreePages();

// For tests: the next n calls of AllocPages fail.
void FailNextPageAllocations(int n);
// For tests: how many times TrimHeap has run in this process, and how many mappings this layer
// has asked the system for.
size_t HeapTrims();
size_t SystemMappings();

}  // namespace kp
