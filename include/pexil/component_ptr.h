// ComponentPtr<T>: owns one component and releases it, forced, when it ends.
//
//   auto greeter = pexil::Create<IGreeter>(factory, kGreeterID);
//   if (greeter) greeter->Greet("world");
//   // Release(1) here: the owner's release (a component ignores Release(0)
//   // while its force-only flag is set, as it is by default).
//
// Header only: nothing of it crosses a module boundary, and any module or host
// may use it. Do not own a single-instance component with it: such a
// component belongs to the factory's global list, which releases it.
#ifndef PEXIL_COMPONENT_PTR_H
#define PEXIL_COMPONENT_PTR_H

#include <pexil/component.h>
#include <pexil/factory.h>
#include <pexil/platform.h>

#include <cstdio>
#include <utility>

namespace pexil {

template <class T>
class ComponentPtr {
public:
    ComponentPtr() noexcept = default;
    explicit ComponentPtr(T* component) noexcept : component_(component) {}
    ~ComponentPtr() { reset(); }

    ComponentPtr(ComponentPtr&& other) noexcept : component_(other.release()) {}
    ComponentPtr& operator=(ComponentPtr&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ComponentPtr(const ComponentPtr&) = delete;
    ComponentPtr& operator=(const ComponentPtr&) = delete;

    T* get() const noexcept { return component_; }
    T* operator->() const noexcept { return component_; }
    T& operator*() const noexcept { return *component_; }
    explicit operator bool() const noexcept { return component_ != nullptr; }

    // Releases the component owned so far (forced) and owns this one instead.
    void reset(T* component = nullptr) noexcept {
        T* old = component_;
        component_ = component;
        if (old != nullptr) old->Release(1);
    }

    // Gives the component up without releasing it: the caller owns it now.
    T* release() noexcept {
        T* component = component_;
        component_ = nullptr;
        return component;
    }

private:
    T* component_ = nullptr;
};

// The component of that ID from the factory (registryPath null or empty: the
// default registry), owned. Empty, with one debug-output line saying why, when
// the factory is null, the creation fails, or the component created is not of
// that ID (it is then released). T must be the interface the ID stands for:
// the factory hands out an IComponent*, and no run-time check can tell the
// interface from it.
template <class T>
ComponentPtr<T> Create(IComponentFactory* factory, uint32_t componentID,
                       const char* registryPath = nullptr) {
    char line[160];
    if (factory == nullptr) {
        std::snprintf(line, sizeof(line), "Pexil[Error]: Create(%u): no factory to ask\n",
                      componentID);
        PexilDebugOutput(line);
        return ComponentPtr<T>();
    }
    IComponent* component = factory->CreateComponentByID(componentID, registryPath);
    if (component == nullptr) {
        std::snprintf(line, sizeof(line),
                      "Pexil[Error]: Create(%u): the factory created no component\n", componentID);
        PexilDebugOutput(line);
        return ComponentPtr<T>();
    }
    const uint32_t createdID = component->GetComponentID();
    if (createdID != componentID) {
        std::snprintf(line, sizeof(line),
                      "Pexil[Error]: Create(%u): the component created is %u; released\n",
                      componentID, createdID);
        PexilDebugOutput(line);
        component->Release(1);
        return ComponentPtr<T>();
    }
    return ComponentPtr<T>(static_cast<T*>(component));
}

}  // namespace pexil

#endif
