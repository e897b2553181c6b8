// This program's own operator new and delete, in every form, over malloc and
// free: every allocation of the program (and, on ELF, of the libraries it
// loads) is counted, and can be made to fail after a given number. Include it
// in exactly one source file of a test program.
#ifndef PEXIL_TESTS_SUPPORT_REPLACED_NEW_H
#define PEXIL_TESTS_SUPPORT_REPLACED_NEW_H

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace pexil::testing {

// Calls of operator new so far, and the bytes they asked for.
inline std::atomic<long> g_newCalls{0};
inline std::atomic<long long> g_newBytes{0};
// How many more allocations succeed; -1: no limit.
inline std::atomic<long> g_allocationsLeft{-1};

// Blocks of the aligned forms still allocated (block, then what malloc gave),
// so that a block freed by a plain form is seen: the aligned and the plain
// forms must be paired (on MinGW, _aligned_malloc and free are not).
constexpr int kMostAlignedBlocks = 64;
inline std::atomic<void*> g_alignedBlocks[kMostAlignedBlocks][2];
inline std::atomic<long> g_alignedBlocksLive{0};
inline std::atomic<long> g_plainFreesOfAlignedBlocks{0};

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
    pexil::testing::g_newBytes += static_cast<long long>(size);
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
namespace pexil::testing {

// Forgets an aligned block and gives what malloc gave for it; null when the
// block is none of them.
inline void* ForgetAlignedBlock(void* block) {
    if (block == nullptr || g_alignedBlocksLive.load() == 0) return nullptr;
    for (auto& slot : g_alignedBlocks) {
        void* expected = block;
        if (slot[0].load() == block && slot[0].compare_exchange_strong(expected, nullptr)) {
            --g_alignedBlocksLive;
            return slot[1].exchange(nullptr);
        }
    }
    return nullptr;
}

}  // namespace pexil::testing

void operator delete(void* memory) noexcept {
    if (void* raw = pexil::testing::ForgetAlignedBlock(memory)) {
        ++pexil::testing::g_plainFreesOfAlignedBlocks;
        std::free(raw);
        return;
    }
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    ::operator delete(memory);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    const std::size_t align = static_cast<std::size_t>(alignment);
    char* raw = static_cast<char*>(::operator new(size + align));
    void* block = reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(raw) + align) &
                                          ~static_cast<std::uintptr_t>(align - 1));
    for (auto& slot : pexil::testing::g_alignedBlocks) {
        void* expected = nullptr;
        if (slot[0].compare_exchange_strong(expected, block)) {
            slot[1] = raw;
            ++pexil::testing::g_alignedBlocksLive;
            return block;
        }
    }
    std::free(raw);
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* memory, std::align_val_t) noexcept {
    std::free(pexil::testing::ForgetAlignedBlock(memory));
}
void operator delete(void* memory, std::size_t, std::align_val_t alignment) noexcept {
    ::operator delete(memory, alignment);
}
void operator delete(void* memory, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    ::operator delete(memory, alignment);
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
