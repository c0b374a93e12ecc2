#include "kestrel/engine/processor/nr_alloc.h"

#include <cstddef>

#include "platform/msgbox.h"
#include "shared/helpers.h"

namespace {

void AllocationBox() {
    kp::MessageBox(kp::Owner::Main, "Allocation Error!", "Fatal Memory Exception", kp::Icon::Stop);
}

// Moves a block's address so that index l lands on its first entry, and back. The arithmetic is
// done on the address as an integer, as the shifted pointer may lie outside the block.
template <class T>
T* Shift(void* block, int l) {
    return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(block) - uintptr_t(intptr_t(l) * intptr_t(sizeof(T))));
}
template <class T>
void* Unshift(T* v, int l) {
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(v) + uintptr_t(intptr_t(l) * intptr_t(sizeof(T))));
}

template <class T>
T* AllocateVector(int l, int u, bool box) {
    const ptrdiff_t count = u >= l ? ptrdiff_t(u) - l + 1 : 0;
    int error = 0;
    void* block = AllocateMemory(sizeof(T) * size_t(count), &error);
    if (block == nullptr) {
        if (box) AllocationBox();
        return nullptr;
    }
    return Shift<T>(block, l);
}

template <class T>
void FreeVector(T* v, int l) {
    if (v == nullptr) return;
    int error = 0;
    FreeMemory(Unshift(v, l), &error);
}

template <class T>
void FreeMatrix(T** m, int lr, int ur, int lc) {
    if (m == nullptr) return;
    for (int i = ur; i >= lr; --i) FreeVector(m[i], lc);
    FreeVector(m, lr);
}

template <class T>
T** AllocateMatrix(int lr, int ur, int lc, int uc) {
    T** m = AllocateVector<T*>(lr, ur, true);
    if (m == nullptr) return nullptr;
    for (int i = lr; i <= ur; ++i) {
        m[i] = AllocateVector<T>(lc, uc, true);
        if (m[i] == nullptr) {
            // The rows not yet made are null and skipped.
            FreeMatrix(m, lr, i - 1, lc);
            return nullptr;
        }
    }
    return m;
}

}  // namespace

int32_t* allocate_long_vector(int l, int u) { return AllocateVector<int32_t>(l, u, true); }
float* allocate_float_vector(int l, int u) { return AllocateVector<float>(l, u, true); }
int* allocate_int_vector(int l, int u) { return AllocateVector<int>(l, u, true); }

float** allocate_float_matrix(int lr, int ur, int lc, int uc) {
    return AllocateMatrix<float>(lr, ur, lc, uc);
}
int32_t** allocate_long_matrix(int lr, int ur, int lc, int uc) {
    return AllocateMatrix<int32_t>(lr, ur, lc, uc);
}

void free_long_vector(int32_t* v, int l) { FreeVector(v, l); }
void free_int_vector(int* v, int l) { FreeVector(v, l); }
void free_float_vector(float* v, int l) { FreeVector(v, l); }
void free_long_matrix(int32_t** m, int lr, int ur, int lc) { FreeMatrix(m, lr, ur, lc); }
void free_float_matrix(float** m, int lr, int ur, int lc) { FreeMatrix(m, lr, ur, lc); }
