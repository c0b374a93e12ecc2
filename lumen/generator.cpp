#include "lumen/generator.h"

#include "lumen/lumen_state.h"

namespace lumen {

Generator& ThreadGenerator() {
    thread_local Generator generator;
    return generator;
}

void SeedThreadGenerator() { ThreadGenerator().seed = iRandSeed.fetch_add(1, std::memory_order_relaxed); }

int Rand() { return ThreadGenerator().Next(); }

}  // namespace lumen
