// Vectors and matrices with free index bounds for the numerical kernels.
//
// A vector with bounds l..u is a block of u - l + 1 zero-filled entries, addressed so that v[l] is
// the first entry; a matrix is a vector of row pointers, each row such a vector. Every block comes
// from AllocateMemory. When a block cannot be had, the allocator shows "Allocation Error!"
// (caption "Fatal Memory Exception"; from a worker the box waits until the workers are joined),
// releases what it took and returns nullptr: every caller must handle that.
#pragma once

#include <cstdint>

int32_t* allocate_long_vector(int l, int u);
float* allocate_float_vector(int l, int u);
int* allocate_int_vector(int l, int u);
// Rows lr..ur, columns lc..uc.
float** allocate_float_matrix(int lr, int ur, int lc, int uc);
int32_t** allocate_long_matrix(int lr, int ur, int lc, int uc);

// v: a vector from the allocator above with lower bound l (nullptr is ignored).
void free_long_vector(int32_t* v, int l);
void free_int_vector(int* v, int l);
void free_float_vector(float* v, int l);
// Rows are released from the last to the first, then the row pointers.
void free_long_matrix(int32_t** m, int lr, int ur, int lc);
void free_float_matrix(float** m, int lr, int ur, int lc);

