#include "component/factory_locator.h"

#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/debug_print.h"
#include "support/diagnostic_text.h"
#include "support/redirect_chain.h"
#include "support/text.h"
#include "support/windows_mistakes.h"

#include <pexil/module.h>

#include <cstring>

namespace pexil::locator {
namespace {

constexpr int kValueSize = 1024;

const PathBase& BaseOf(Variant variant) {
    return variant == Variant::FactoryHandle ? kLocatorBase : kLoadedLocatorBase;
}

DebugChannel ChannelOf(Variant variant) {
    return variant == Variant::FactoryHandle ? DebugChannel::Locator : DebugChannel::LoadedLocator;
}

void ReadValue(const char* section, const char* key, const char* defaultValue, char* buffer,
               int size, const char* file) {
    platform::GetPrivateProfileString(section, key, defaultValue, buffer,
                                      static_cast<uint32_t>(size), file);
}

}  // namespace

int FollowRedirect(Variant variant, const char* file, char* buffer, int size,
                   RedirectObserver* observer) {
    using Hop = RedirectObserver::Hop;
    RedirectChain chain(ChannelOf(variant));
    char current[kMaxPath];
    if (!CopyIfFits(current, kMaxPath, file)) current[0] = '\0';
    for (;;) {
        chain.Enter(current);
        char value[kMaxPath];
        ReadValue("Redirect", "Path", "", value, kMaxPath, current);
        if (IsBlank(value)) {
            if (observer != nullptr) observer->OnHop(Hop::End, current, value, current);
            return CopyIfFits(buffer, size, current);
        }
        if (!IsAbsolutePath(value)) {
            // A path cut to fit could name another file: none is read then.
            int whole = 0;
            JoinWithDirectoryOf(current, value, buffer, size, PathStyle::Native, &whole);
            if (observer != nullptr) {
                observer->OnHop(whole != 0 ? Hop::Relative : Hop::TooLong, current, value, buffer);
            }
            return whole;
        }
        if (chain.ClosesLoop(current, value)) {
            if (observer != nullptr) observer->OnHop(Hop::Loop, current, value, value);
            return 0;
        }
        if (observer != nullptr) observer->OnHop(Hop::Absolute, current, value, value);
        CopyIfFits(current, kMaxPath, value);
    }
}

int ResolveIniFile(Variant variant, const char* iniArgument, char* buffer, int size) {
    char path[kMaxPath];
    path[0] = '\0';
    int whole = 0;
    if (iniArgument == nullptr || iniArgument[0] == '\0') {
        JoinToHostDirectory(BaseOf(variant), "Pexil.ini", path, kMaxPath, &whole);
    } else if (!IsAbsolutePath(iniArgument)) {
        JoinToHostDirectory(BaseOf(variant), iniArgument, path, kMaxPath, &whole);
    } else {
        whole = CopyIfFits(path, kMaxPath, iniArgument);
    }
    // A cut path could name another file: the search fails instead.
    if (whole == 0) return 0;
    return FollowRedirect(variant, path, buffer, size);
}

int GetFactoryDllPath(const char* iniFile, char* buffer, int size) {
    char value[kValueSize];
    char dllName[kMaxPath];
    ReadValue("361", "DLL", "", value, kValueSize, iniFile);
    TrimBlanks(value, dllName, kMaxPath);
    if (IsAbsolutePath(dllName)) return CopyIfFits(buffer, size, dllName);

    int whole = 0;
    char flag[10];
    ReadValue("361", "NotUseDefaultDllPath", "0", value, kValueSize, iniFile);
    TrimBlanks(value, flag, sizeof(flag));
    if (flag[0] == '1') {
        // Beside the ini file.
        JoinWithDirectoryOf(iniFile, dllName, buffer, size, PathStyle::Native, &whole);
        return whole;
    }

    char directory[kMaxPath];
    ReadValue("DefaultValue", "DllPath", "", directory, kMaxPath, iniFile);
    char candidate[kMaxPath];
    candidate[0] = '\0';
    if (IsBlank(directory)) {
        whole = CopyIfFits(candidate, kMaxPath, dllName);
    } else {
        // The separator is added even after a directory that ends with one.
        const char separator[2] = {Separator(PathStyle::Native), '\0'};
        whole = AppendIfFits(candidate, kMaxPath, directory) &&
                AppendIfFits(candidate, kMaxPath, separator) &&
                AppendIfFits(candidate, kMaxPath, dllName);
    }
    if (IsAbsolutePath(candidate)) return CopyIfFits(buffer, size, candidate) && whole;
    int joined = 0;
    JoinWithDirectoryOf(iniFile, candidate, buffer, size, PathStyle::Native, &joined);
    return joined && whole;
}

PexilModuleHandle LoadFactoryModule(Variant variant, const char* iniArgument,
                                    LoadFailure* failure) {
    if (variant == Variant::FactoryHandle) {
        if (PexilModuleHandle handle = FactoryHandle()) return handle;
    } else if (PexilModuleHandle handle = platform::GetModuleHandle("Brelnor.dll")) {
        return handle;
    }
    char iniFile[kMaxPath];
    std::memset(iniFile, 0, sizeof(iniFile));
    if (!ResolveIniFile(variant, iniArgument, iniFile, kMaxPath)) {
        if (failure != nullptr) *failure = LoadFailure{LoadFailure::NoIniFile, "", ""};
        return nullptr;
    }
    char dllPath[kMaxPath];
    std::memset(dllPath, 0, sizeof(dllPath));
    // A DLL path cut to fit could name another DLL: none is loaded then.
    if (!GetFactoryDllPath(iniFile, dllPath, kMaxPath)) {
        if (failure != nullptr) {
            *failure = LoadFailure{LoadFailure::DllPathTooLong, "", ""};
            CopyIfFits(failure->iniFile, kMaxPath, iniFile);
        }
        return nullptr;
    }
    const PexilModuleHandle module = platform::LoadLibrary(dllPath);
    if (module == nullptr && failure != nullptr) {
        *failure = LoadFailure{LoadFailure::NotLoaded, "", ""};
        CopyIfFits(failure->iniFile, kMaxPath, iniFile);
        CopyIfFits(failure->dllPath, kMaxPath, dllPath);
    }
    return module;
}

namespace {

// Why LoadFactoryModule found no factory DLL, for the explaining trace.
void ExplainLoadFailure(const LoadFailure& failure, const char* iniArgument) {
    const char* iniFile = failure.iniFile;
    switch (failure.kind) {
        case LoadFailure::NoIniFile:
            Explain(
                "no ini file was read for \"%s\": its path, or that of a file its "
                "[Redirect] names, does not fit in 259 characters, or the redirects loop\n",
                iniArgument != nullptr && iniArgument[0] != '\0' ? iniArgument : "Pexil.ini");
            return;
        case LoadFailure::DllPathTooLong:
            Explain("the factory DLL's path that %s names does not fit in 259 characters\n",
                    iniFile);
            return;
        case LoadFailure::NotLoaded:
            break;
    }
    if (platform::Access(iniFile, 0) != 0) {
        Explain(
            "no ini file at %s: put a Pexil.ini beside the host whose [361] section names the "
            "factory (DLL=Brelnor.dll)\n",
            iniFile);
        ExplainUnrepresentable("the ini file", iniFile);
        ExplainOtherCase(iniFile);
        return;
    }
    // There, but no file to read (a FIFO, a device): it reads as empty.
    const platform::Handle readable = platform::OpenFileForRead(iniFile);
    if (readable == platform::kInvalidHandle) {
        char why[256] = "";
        platform::LastErrorText(why, sizeof(why));
        Explain("the ini file %s cannot be read: %s; it reads as missing\n", iniFile, why);
        return;
    }
    platform::CloseFile(readable);
    char value[kMaxPath] = "";
    ReadValue("361", "DLL", "", value, kMaxPath, iniFile);
    if (IsBlank(value)) {
        Explain("%s has no [361] section with a DLL= line: add [361] and DLL=Brelnor.dll\n",
                iniFile);
    } else if (platform::Access(failure.dllPath, 0) != 0) {
        Explain("the factory DLL %s, which %s names, does not exist\n", failure.dllPath, iniFile);
        ExplainUnrepresentable("the factory DLL", failure.dllPath);
        ExplainOtherCase(failure.dllPath);
    } else {
        char reason[512] = "";
        platform::LoadFailureReason(reason, sizeof(reason));
        Explain("the factory DLL %s does not load: %s\n", failure.dllPath, reason);
    }
}

}  // namespace

IComponent* CreateFromModule(Variant variant, PexilModuleHandle module, uint32_t componentID) {
    auto create = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(module, "CreateComponent"));
    if (create == nullptr) {
        DebugPrintf(ChannelOf(variant), "[Pexil_Error] Can't find CreateComponent().\n");
        return nullptr;
    }
    IComponent* component = create(componentID, kCreatorDirect);
    if (component == nullptr) {
        DebugPrintf(ChannelOf(variant),
                    "[Pexil_Error] CreateComponent(ComponentId=%u) return null.\n", componentID);
    }
    return component;
}

IComponent* LocateFactory(Variant variant, const char* iniArgument) {
    LoadFailure failure{};
    const PexilModuleHandle module =
        LoadFactoryModule(variant, iniArgument, Explaining() ? &failure : nullptr);
    if (module == nullptr) {
        DebugPrintf(ChannelOf(variant), "[Pexil_Error] Load Brelnor.dll Fail.\n");
        if (Explaining()) ExplainLoadFailure(failure, iniArgument);
        return nullptr;
    }
    IComponent* factory = CreateFromModule(variant, module, kFactoryComponentID);
    if (factory == nullptr) {
        DebugPrintf(ChannelOf(variant),
                    "[Pexil_Error] Create ComponentFactory in Brelnor.dll Fail\n");
    }
    return factory;
}

}  // namespace pexil::locator
