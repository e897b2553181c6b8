// UnloadProbe.dll: a module whose PexilDllCanUnloadNow answer the host sets
// (UnloadProbeSetAnswer) and which reports each question and its own unloading
// on the debug output. It offers one static component, 400, and exports
// neither SetDLLRegistry nor SetFactoryHandle.
#include "platform/platform.h"

#include <pexil/component.h>

#include <string>

#if defined(_WIN32)
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

int g_answer = 1;

class StaticComponent : public pexil::IComponent {
public:
    uint32_t GetComponentID() override { return 400; }
    int GetVersion() override { return 1; }
    void Release(int) override {}
    int GetFreeMapFlag() override { return 0; }
    void SetFreeMapFlag(int) override {}
};

StaticComponent g_component;

struct UnloadReport {
    ~UnloadReport() { pexil::platform::DebugOutput("[UnloadProbe] unloaded\n"); }
} g_unloadReport;

}  // namespace

extern "C" {

PROBE_EXPORT pexil::IComponent* PEXIL_CDECL CreateComponent(uint32_t componentID, uint32_t) {
    return componentID == 400 ? &g_component : nullptr;
}

PROBE_EXPORT int PEXIL_CDECL PexilDllCanUnloadNow(void) {
    pexil::platform::DebugOutput(
        ("[UnloadProbe] PexilDllCanUnloadNow -> " + std::to_string(g_answer) + "\n").c_str());
    return g_answer;
}

PROBE_EXPORT void PEXIL_CDECL UnloadProbeSetAnswer(int answer) {
    g_answer = answer;
}
}
