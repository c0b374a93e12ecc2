// The timed loops of the memory test: one pass each, element by element, with the element
// width as the test names it (8-byte doubles or single bytes). They are compiled on their own
// so the compiler neither turns them into library copies nor widens the accesses.
#pragma once

#include <cstdint>

// Test 1: dest[i] = i, n doubles.
void MemCopy8(double* dest, long n);
// Test 2: dest[i] = source[i], n doubles.
void MemMove8(double* dest, const double* source, long n);
// Test 3: dest[i] = 'a', n bytes.
void MemCopy1(char* dest, long n);
// Test 4: dest[i] = source[i], n bytes.
void MemMove1(char* dest, const char* source, long n);
// Test 5: dest[index1[i]] = i, n doubles.
void MemCopy8Patterned(double* dest, const uint32_t* index1, long n);
// Test 6: dest[index1[i]] = source[index2[i]], n doubles.
void MemMove8Patterned(double* dest, const double* source, const uint32_t* index1,
                       const uint32_t* index2, long n);
// Test 7: dest[index1[i / 4]] = 'd', n bytes.
void MemCopy1Patterned(char* dest, const uint32_t* index1, long n);
// Test 8: dest[index1[i / 4]] = source[index2[i / 4]], n bytes.
void MemMove1Patterned(char* dest, const char* source, const uint32_t* index1,
                       const uint32_t* index2, long n);
