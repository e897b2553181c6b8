// The factory locator: finds the factory DLL through an ini file ("Pexil.ini"
// beside the host executable unless another is named, and its [Redirect]
// chain), loads it and asks its CreateComponent for component 361.
//
// Two variants run the same steps and differ only in their shortcut, their
// host-directory cache (and so how long a joined ini path may be) and the debug
// copy they print through:
// - FactoryHandle: the module's factory handle, when set, is the factory module;
// - LoadedModule: a module named "Brelnor.dll" already loaded is.
#ifndef PEXIL_COMPONENT_FACTORY_LOCATOR_H
#define PEXIL_COMPONENT_FACTORY_LOCATOR_H

#include "support/redirect_chain.h"

#include <pexil/component.h>
#include <pexil/config.h>

namespace pexil::locator {

enum class Variant { FactoryHandle, LoadedModule };

// The factory, or null after printing why.
IComponent* LocateFactory(Variant variant, const char* iniArgument);

// Why LoadFactoryModule gave null: no ini file was resolved, the DLL path
// does not fit, or the DLL named did not load (the ini file and the DLL path).
struct LoadFailure {
    enum Kind { NoIniFile, DllPathTooLong, NotLoaded } kind;
    char iniFile[260];
    char dllPath[260];
};

// The factory module: the shortcut, else the DLL the ini file names, loaded.
// On failure, *failure (when given) says where it failed.
PexilModuleHandle LoadFactoryModule(Variant variant, const char* iniArgument,
                                    LoadFailure* failure = nullptr);

// The ini file to read: the argument ("Pexil.ini" when null or empty) made
// absolute against the host directory, redirections followed. 0 when the
// redirections run in a loop or a path of the chain does not fit its buffer
// (the search fails: a cut path could name another file).
int ResolveIniFile(Variant variant, const char* iniArgument, char* buffer, int size);

// The last file of the redirect chain that starts at the file. An absolute
// "Path" continues the chain in the named file; a relative one ends it, taken
// against the directory of the file holding it. 0 when an absolute chain comes
// back to a file it has visited, or a relative one does not fit the buffer.
// The observer (when given) is told each step.
int FollowRedirect(Variant variant, const char* file, char* buffer, int size,
                   RedirectObserver* observer = nullptr);

// The factory DLL's path as the ini file's [361] and [DefaultValue] name it.
// 0 when the path does not fit the buffer whole (the buffer may then hold the
// part that fitted, which must not be loaded).
int GetFactoryDllPath(const char* iniFile, char* buffer, int size);

// The module's CreateComponent(componentID, 0), or null after printing why.
IComponent* CreateFromModule(Variant variant, PexilModuleHandle module, uint32_t componentID);

}  // namespace pexil::locator

#endif
