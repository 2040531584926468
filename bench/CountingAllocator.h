// Counts every allocation of the program, so that a benchmark can report allocations per call. Include it in
// exactly one file of a program: it replaces the global allocator (malloc/free underneath, which GCC cannot
// see through once it inlines them).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

inline std::atomic<size_t> g_nAllocations{0};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t cb) {
    g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(cb ? cb : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new(size_t cb, const std::nothrow_t&) noexcept {
    g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(cb ? cb : 1);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
