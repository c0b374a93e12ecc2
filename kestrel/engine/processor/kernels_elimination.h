// The Factorizations and Matrix Operations tests: their drivers and iterations, and the
// eigenvalue kernel of the Matrix Operations workers (balancing, reduction to upper Hessenberg
// form by elimination, shifted QR iteration), in single precision with matrices indexed from 1.
#pragma once

#include <cstdint>

// Balances a[1..n][1..n] in place: row and column pairs are scaled by powers of 2 until their
// norms (without the diagonal) are within a factor of 2 of each other.
void balanc(float** a, int n);
// Reduces a[1..n][1..n] to upper Hessenberg form by a similarity transformation of elimination
// steps with pivoting; the multipliers are left below the subdiagonal.
void elmhes(float** a, int n);
// All eigenvalues of the upper Hessenberg matrix a[1..n][1..n] into wr (real parts) and wi
// (imaginary parts); a is destroyed. After 30 iterations on one eigenvalue it gives up and
// returns, the eigenvalues not yet found left as they were.
void hqr(float** a, int n, float* wr, float* wi);

// A view of the array a, stored row after row with nch - ncl + 1 columns, as a matrix with rows
// nrl..nrh and columns ncl..nch. Only the row pointers are allocated (nullptr when they cannot).
float** convert_matrix(float* a, int nrl, int nrh, int ncl, int nch);
void free_convert_matrix(float** b, int nrl, int nrh, int ncl, int nch);

// Matrix size of the Matrix Operations test by memory level 0..6.
int MatrixOpsSize(int level);

// Thread procedure of the Matrix Operations test: the eigenvalues of the size x size test matrix.
// 0, or -1 (nothing computed) when its matrices could not be allocated.
int DoEigenRoutine(const int32_t* size);

// One iteration of each test with n workers: the workers' time in ms, or -1.0 when it failed
// (also when a worker could not allocate its data).
double DoElimIteration(int n);
double DoMatrixOpsIteration(int n, int size);

// The drivers: 0 with the rate stored in global_elimstruct / global_matrixopsstruct, or -1 when
// the test was stopped or an iteration failed.
int DoElimination();
int DoMatrixOps();
