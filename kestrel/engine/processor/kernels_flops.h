// The MegaFlops test: every worker solves a dense linear system of order 100 in single precision
// (LU factorisation with partial pivoting and the triangular solves, on column-major arrays with
// 0-based indices and a leading dimension that grows with the memory level), times itself, and
// adds its rate in thousands of floating-point operations per second to a shared count.
#pragma once

#include <cstdint>
#include <mutex>

// The least number of workers.
inline constexpr int FLOPSIZE = 4;

// The workers' summed rates of one measurement (tempflop is unused).
struct flopcount {
    uint64_t flops = 0;
    uint32_t tempflop = 0;
};
extern flopcount kflopcount;
// Guards kflopcount.
extern std::mutex gMutex;
// The summed pass time of the measurement, in ms.
extern double clicks;

namespace flops {
// The leading dimension of the workers' arrays, less one (set by the iteration from the level).
extern int thesize;
// thesize and the measuring time in seconds by memory level 0..6.
int LeadingSize(int level);
double TimeLimit(int level);
}  // namespace flops

// Operations credited for one factorisation and solve of order n: 2n^3/3 + 2n^2.
double FlopOps(int n);
// ops / (seconds x 1000), or 0 when the time is not positive.
double FlopRate(double ops, double seconds);
// Adds a worker's rate, rounded to the nearest integer, to kflopcount under gMutex.
void AddFlopRate(double rate);

// The test matrix of order n (a pseudo-random sequence, column by column) with norma its
// largest entry and b its row sums, so the solution is all ones.
void matgen(float* a, int lda, int n, float* norma, float* b);
// LU factorisation of a with partial pivoting; ipvt receives the pivot rows, info the index of a
// zero pivot (or 0).
void dgefa(float* a, int lda, int n, int* ipvt, int* info);
// Solves a x = b (job 0) or a' x = b (otherwise) with the factors from dgefa; x replaces b.
void dgesl(const float* a, int lda, int n, const int* ipvt, float* b, int job);
// dy += da dx
void ddaxpy(int n, float da, const float* dx, int incx, float* dy, int incy);
// dx . dy
float ddot(int n, const float* dx, int incx, const float* dy, int incy);
// dx *= da
void dscal(int n, float da, float* dx, int incx);
// Index of the entry of largest magnitude (0-based; -1 when n < 1).
int idamax(int n, const float* dx, int incx);
// y[0..n1-1] += m x, m having n2 columns with leading dimension ldm.
void dmxpy(int n1, float* y, int n2, int ldm, const float* x, const float* m);
// The rounding unit of single precision times |x|.
float epslon(float x);
// Seconds of the clock the iterations use (the counter, or the millisecond clock when Timer
// Precision is off); negative when the counter cannot be read.
double dtime();
void print_time(int row);

// Thread procedure: measures and adds one worker's rate. 0, or -1 (nothing added) when its
// arrays could not be allocated or the clock could not be read.
int DoBeginFlops(const int32_t* ignored);
// Runs passes of max(FLOPSIZE, numprocessors) workers until their summed time reaches the
// level's measuring time; the summed rate per pass, or -1.0 when stopped or a pass failed.
double DoFlopIteration();
// The driver: 0 with the rate in global_flopstruct, or -1 after "Test aborted!".
int DoFlops();
