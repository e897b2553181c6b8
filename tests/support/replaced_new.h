// This program's own operator new and delete, in every form, over malloc and
// free: every allocation of the program (and, on ELF, of the libraries it
// loads) is counted, and can be made to fail after a given number. Include it
// in exactly one source file of a test program.
#ifndef PEXIL_TESTS_SUPPORT_REPLACED_NEW_H
#define PEXIL_TESTS_SUPPORT_REPLACED_NEW_H

#include <atomic>
#include <cstdlib>
#include <new>

namespace pexil::testing {

// Calls of operator new so far.
inline std::atomic<long> g_newCalls{0};
// How many more allocations succeed; -1: no limit.
inline std::atomic<long> g_allocationsLeft{-1};

// While alive, only the given number of allocations succeed.
class AllocationLimit {
public:
    explicit AllocationLimit(long allowed) { g_allocationsLeft = allowed; }
    ~AllocationLimit() { g_allocationsLeft = -1; }
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;
};

}  // namespace pexil::testing

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    ++pexil::testing::g_newCalls;
    std::atomic<long>& left = pexil::testing::g_allocationsLeft;
    long now = left.load();
    while (now >= 0) {
        if (now == 0) throw std::bad_alloc();
        if (left.compare_exchange_weak(now, now - 1)) break;
    }
    if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
    throw std::bad_alloc();
}
// The other forms go through the one above, so that every allocation counts
// (sanitizers would otherwise answer them with their own).
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ::operator new(size, std::nothrow);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

#endif
