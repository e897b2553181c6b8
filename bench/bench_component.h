// The component the benchmarks create: the smallest real component, built into
// BenchComponents.dll and, for the floor figure, into the benchmark host too.
#ifndef PEXIL_BENCH_BENCH_COMPONENT_H
#define PEXIL_BENCH_BENCH_COMPONENT_H

#include <pexil/component_base.h>

namespace pexil::bench {

constexpr uint32_t kBenchComponentID = 500;

class IBenchComponent : public IComponent {
public:
    virtual uint32_t Payload() = 0;  // slot 5

protected:
    ~IBenchComponent() = default;
};

class BenchComponent : public ComponentBase<IBenchComponent, kBenchComponentID> {
public:
    uint32_t Payload() override { return payload_; }
    void Shutdown() override {}

    // For an instance made outside any module's creator (the floor): after this
    // a plain delete is its ordinary end, not a destruction outside Release.
    void MarkShutDown() { cleanupPending_ = 0; }

private:
    uint32_t payload_ = 0;
};

// The floors' end of a component: its destructor and the global delete, as of
// a class without the framework's operator delete. The framework's looks for
// a deletion in progress in every shard of the live map, which a component
// deleted without Release never has: that search is no part of the floor.
inline void DestroyAsPlainObject(BenchComponent* component) {
    component->MarkShutDown();
    component->~BenchComponent();
    ::operator delete(component);
}

}  // namespace pexil::bench

#endif
