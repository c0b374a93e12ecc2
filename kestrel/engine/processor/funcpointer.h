// The drivers of the nine processor tests, in test order: Bit Operations, Queries, MegaFlops,
// Integrations, Filters, Analyzations, Modulations, Factorizations, Matrix Operations. Each
// returns 0 with its rate stored in its result record, or -1 when stopped or failed.
#pragma once

using DriverFn = int (*)();
inline constexpr int kProcessorTests = 9;
extern DriverFn funcpointer[kProcessorTests];
