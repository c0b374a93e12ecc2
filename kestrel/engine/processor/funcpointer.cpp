#include "kestrel/engine/processor/funcpointer.h"

#include "kestrel/engine/processor/kernels_elimination.h"
#include "kestrel/engine/processor/kernels_flops.h"
#include "kestrel/engine/processor/kernels_fourier.h"
#include "kestrel/engine/processor/kernels_integer.h"

DriverFn funcpointer[kProcessorTests] = {
    DoBitTest,    DoQuery,     DoFlops,       DoFourier,  DoFourierTransform,
    DoAnalyze,    DoSpeedTest, DoElimination, DoMatrixOps,
};
