// MinimalModule.dll: exports CreateComponent and nothing else (no
// SetDLLRegistry, no SetFactoryHandle). Its one component, 300, is static and
// counts the calls that created it. It prints a line as it loads, as some
// modules do, for the tools that must keep their own output clean.
#include <pexil/component.h>

#include <cstdio>

namespace {

class StaticComponent : public pexil::IComponent {
public:
    uint32_t GetComponentID() override { return 300; }
    int GetVersion() override { return static_cast<int>(created); }
    void Release(int) override {}
    int GetFreeMapFlag() override { return 0; }
    void SetFreeMapFlag(int) override {}
    uint32_t created = 0;
};

StaticComponent g_component;

struct LoadGreeting {
    LoadGreeting() { std::printf("MinimalModule.dll loaded\n"); }
} g_greeting;

}  // namespace

#if defined(_WIN32)
#define MINIMAL_EXPORT __declspec(dllexport)
#else
#define MINIMAL_EXPORT __attribute__((visibility("default")))
#endif

// GetVersion reports how often CreateComponent ran for 300. Asked for 361 it
// gives its component 300 too: a DLL that a [361] names by mistake, and that
// answers with no factory.
extern "C" MINIMAL_EXPORT pexil::IComponent* PEXIL_CDECL CreateComponent(uint32_t componentID,
                                                                         uint32_t) {
    if (componentID == 361) return &g_component;
    if (componentID != 300) return nullptr;
    ++g_component.created;
    return &g_component;
}
