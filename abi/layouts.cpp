// The layouts that separately built hosts and modules read, made visible to
// libabigail. abidiff counts only what an exported function reaches, and no
// export of the framework reaches these: a module finds the factory and the
// configuration by casting an IComponent*, and the LogSink through the
// factory. This one export takes a pointer to each, compiled from the public
// headers as any module is (scripts/abi builds it; it is never shipped).
// A type that crosses a module boundary is added here as a parameter.
#include <pexil/configuration.h>
#include <pexil/factory.h>
#include <pexil/platform.h>

// The table the module code in every module calls the platform through.
#include "platform/platform.h"

extern "C" __attribute__((visibility("default"))) void PexilAbiLayouts(
    pexil::IComponent*, pexil::IComponentFactory*, pexil::IConfiguration*, pexil::LogSink*,
    PexilLock*, pexil::platform::SystemCalls*) {}
