#include "bench/memory_twins.h"

// Nothing but the loop: no barriers, no helpers. The caller lives in another file, so the stores
// are kept because the caller may read them.
namespace twin {

void Copy8(double* dest, long n) {
    for (long i = 0; i < n; ++i) dest[i] = double(i);
}

void Move8(double* dest, const double* source, long n) {
    for (long i = 0; i < n; ++i) dest[i] = source[i];
}

void Copy1(char* dest, long n) {
    for (long i = 0; i < n; ++i) dest[i] = 'a';
}

void Move1(char* dest, const char* source, long n) {
    for (long i = 0; i < n; ++i) dest[i] = source[i];
}

void Copy8Patterned(double* dest, const uint32_t* index1, long n) {
    for (long i = 0; i < n; ++i) dest[index1[i]] = double(i);
}

void Move8Patterned(double* dest, const double* source, const uint32_t* index1, const uint32_t* index2,
                    long n) {
    for (long i = 0; i < n; ++i) dest[index1[i]] = source[index2[i]];
}

void Copy1Patterned(char* dest, const uint32_t* index1, long n) {
    for (long i = 0; i < n; ++i) dest[index1[i / 4]] = 'd';
}

void Move1Patterned(char* dest, const char* source, const uint32_t* index1, const uint32_t* index2,
                    long n) {
    for (long i = 0; i < n; ++i) dest[index1[i / 4]] = source[index2[i / 4]];
}

}  // namespace twin
