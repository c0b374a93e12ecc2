#include "kestrel/engine/memory/memory_loops.h"

// Built with -fno-tree-loop-distribute-patterns and -fno-tree-vectorize (see CMakeLists.txt):
// every loop stays a loop of single 8-byte or 1-byte accesses. The barrier after each loop
// tells the compiler the stores are read elsewhere, so none of them is dropped.
#define KEEP_STORES(p) asm volatile("" : : "r"(p) : "memory")

void MemCopy8(double* dest, long n) {
    for (long i = 0; i < n; ++i) dest[i] = double(i);
    KEEP_STORES(dest);
}

void MemMove8(double* dest, const double* source, long n) {
    for (long i = 0; i < n; ++i) dest[i] = source[i];
    KEEP_STORES(dest);
}

void MemCopy1(char* dest, long n) {
    for (long i = 0; i < n; ++i) dest[i] = 'a';
    KEEP_STORES(dest);
}

void MemMove1(char* dest, const char* source, long n) {
    for (long i = 0; i < n; ++i) dest[i] = source[i];
    KEEP_STORES(dest);
}

void MemCopy8Patterned(double* dest, const uint32_t* index1, long n) {
    for (long i = 0; i < n; ++i) dest[index1[i]] = double(i);
    KEEP_STORES(dest);
}

void MemMove8Patterned(double* dest, const double* source, const uint32_t* index1,
                       const uint32_t* index2, long n) {
    for (long i = 0; i < n; ++i) dest[index1[i]] = source[index2[i]];
    KEEP_STORES(dest);
}

void MemCopy1Patterned(char* dest, const uint32_t* index1, long n) {
    for (long i = 0; i < n; ++i) dest[index1[i / 4]] = 'd';
    KEEP_STORES(dest);
}

void MemMove1Patterned(char* dest, const char* source, const uint32_t* index1,
                       const uint32_t* index2, long n) {
    for (long i = 0; i < n; ++i) dest[index1[i / 4]] = source[index2[i / 4]];
    KEEP_STORES(dest);
}
