// The least-squares kernel of the Factorizations test: a linear least-squares problem with
// constraint rows, solved by Householder triangularisation with column interchanges and
// iterative refinement, all in signed 32-bit integers.
//
// Integer rules of the kernel: sums and products wrap modulo 2^32 (they are computed unsigned,
// so an overflow is well defined and gives the two's-complement result); every division
// truncates toward zero and takes a divisor below 1 as 1; a square root is the integer part of the
// floating-point root, a negative (wrapped) argument giving the root of its magnitude.
//
// Vectors and matrices are indexed from 1 (nr_alloc.h).
#pragma once

#include <cstdint>

// The arithmetic rules above.
int32_t lsq_add(int32_t a, int32_t b);
int32_t lsq_sub(int32_t a, int32_t b);
int32_t lsq_mul(int32_t a, int32_t b);
int32_t lsq_div(int32_t a, int32_t b);
int32_t lsq_root(int32_t a);

// Products over the index range l..u (empty when u < l).
// sum of a[k] * b[k + shift]
int32_t vecvec(int l, int u, int shift, const int32_t* a, const int32_t* b);
// row i of a times b: sum of a[i][k] * b[k]
int32_t matvec(int l, int u, int i, int32_t* const* a, const int32_t* b);
// column i of a times b: sum of a[k][i] * b[k]
int32_t tamvec(int l, int u, int i, int32_t* const* a, const int32_t* b);
// row i of a times column j of b: sum of a[i][k] * b[k][j]
int32_t matmat(int l, int u, int i, int j, int32_t* const* a, int32_t* const* b);
// column i of a times column j of b: sum of a[k][i] * b[k][j]
int32_t tammat(int l, int u, int i, int j, int32_t* const* a, int32_t* const* b);
// a[k][i] += b[k][j] * x
void elmcol(int l, int u, int i, int j, int32_t** a, int32_t* const* b, int32_t x);
// a[k] += b[k][i] * x
void elmveccol(int l, int u, int i, int32_t* a, int32_t* const* b, int32_t x);
// exchanges a[k][i] and a[k][j]
void ichcol(int l, int u, int i, int j, int32_t** a);

// Triangularises a (rows 1..n, columns 1..m; the first c rows are constraints) in place.
// aux[2] is the tolerance factor; aux[3] receives the rank found. aid[1..m] receives the diagonal
// of the triangular factor, ci[1..m] the column exchanged with each column. 0, or -1 when the
// kernel's own scratch vector could not be allocated.
int lsqdecomp(int32_t** a, int n, int m, int c, int32_t* aux, int32_t* aid, int* ci);

// The solution x[1..m] and residual res[1..n] of the problem that lsqdecomp factorised into qr,
// by iterative refinement. a is the original matrix (its columns are interchanged as ci says);
// aux[2] the tolerance factor, aux[6] the largest number of passes after the third; aux[7]
// receives the number of passes made before the last, ldx the root of the summed squares of the
// last correction of x. 0, or -1 when the kernel's scratch vectors could not be allocated.
int lsqrefsol(int32_t** a, int32_t** qr, int n, int m, int c, int32_t* aux, int32_t* aid,
              int* ci, const int32_t* b, int32_t* ldx, int32_t* x, int32_t* res);

// Rows of the Factorizations problem by memory level 0..6 (columns: two fewer).
int LsqRows(int level);

// What one Factorizations worker found (for the tests).
struct LsqOutcome {
    int32_t rank = 0;    // aux[3]
    int32_t passes = 0;  // refinement passes made
    int32_t ldx = 0;
};

// Thread procedure of the Factorizations test: sets up and solves the problem of the memory level
// *level. 0, or -1 (nothing solved) when its data could not be allocated; the allocator's box
// follows the join. The outcome is stored when asked for.
int DoQuDecompTest(const int32_t* level, LsqOutcome* outcome = nullptr);
