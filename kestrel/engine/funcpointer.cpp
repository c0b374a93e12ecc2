#include "kestrel/engine/funcpointer.h"

// Filled in with the nine drivers of the processor kernels.
DriverFn funcpointer[kProcessorTests] = {};
