// AppComponents.dll: the module of the application-start figure. The
// benchmark copies it to 40 files, one module each; every copy offers the 400
// component IDs of the application (kFirstAppID and on), and each registry
// binds ten of them to each copy.
#include "app_start.h"
#include "bench_component.h"

#include <pexil/module.h>

namespace pexil::bench {
namespace {

// A creator of each ID, registered at load as any module registers its own.
struct Creators {
    Creators() {
        for (uint32_t id = kFirstAppID; id < kFirstAppID + kAppComponents; ++id)
            RegisterCreator(id, NewComponent<BenchComponent>);
    }
} g_creators;

}  // namespace
}  // namespace pexil::bench
