// The memory test's eight loops written plainly, as the peers of the engine's loops in
// bench_memory. Their own compile options (bench/CMakeLists.txt) keep every access at the
// element's width, whatever the engine's options do.
#pragma once

#include <cstdint>

namespace twin {

void Copy8(double* dest, long n);
void Move8(double* dest, const double* source, long n);
void Copy1(char* dest, long n);
void Move1(char* dest, const char* source, long n);
void Copy8Patterned(double* dest, const uint32_t* index1, long n);
void Move8Patterned(double* dest, const double* source, const uint32_t* index1, const uint32_t* index2,
                    long n);
void Copy1Patterned(char* dest, const uint32_t* index1, long n);
void Move1Patterned(char* dest, const char* source, const uint32_t* index1, const uint32_t* index2,
                    long n);

}  // namespace twin
