// Must not compile: a component class whose own operator delete does not say
// that it frees through pexil::FreeComponentMemory, made by NewComponent.
// (The test "component_delete_check" compiles it and expects the refusal.)
#include <pexil/component_base.h>
#include <pexil/module.h>

#include <cstdlib>

class FreesItself : public pexil::ComponentBase<pexil::IComponent, 4242> {
public:
    void Shutdown() override {}
    static void operator delete(void* memory) noexcept { std::free(memory); }
};

pexil::IComponent* (*const creator)() = pexil::NewComponent<FreesItself>;
