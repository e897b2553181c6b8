// BenchComponents.dll: the module the benchmarks load, with one creator.
#include "bench_component.h"

#include <pexil/module.h>

namespace pexil::bench {

PEXIL_REGISTER_CREATOR(kBenchComponentID, NewComponent<BenchComponent>);

}  // namespace pexil::bench
