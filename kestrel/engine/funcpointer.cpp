#include "kestrel/engine/funcpointer.h"

#include "kestrel/engine/kernels_elimination.h"
#include "kestrel/engine/kernels_flops.h"
#include "kestrel/engine/kernels_fourier.h"
#include "kestrel/engine/kernels_integer.h"

DriverFn funcpointer[kProcessorTests] = {
    DoBitTest,    DoQuery,     DoFlops,       DoFourier,  DoFourierTransform,
    DoAnalyze,    DoSpeedTest, DoElimination, DoMatrixOps,
};
