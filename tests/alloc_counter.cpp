#include "alloc_counter.h"

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOC_COUNTER_HOOKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ALLOC_COUNTER_HOOKS 0
#endif
#endif
#ifndef ALLOC_COUNTER_HOOKS
#define ALLOC_COUNTER_HOOKS 1
#endif

namespace alloc_counter
{

namespace
{
thread_local Scope* current = nullptr;
}

struct Hooks
{
    static void allocated()
    {
        if (current != nullptr)
            current->counts_.allocations++;
    }
    static void freed(void* p)
    {
        if (p != nullptr && current != nullptr)
            current->counts_.deallocations++;
    }
};

bool enabled() { return ALLOC_COUNTER_HOOKS != 0; }

Scope::Scope() : previous_(current) { current = this; }
Scope::~Scope() { current = previous_; }

} // namespace alloc_counter

#if ALLOC_COUNTER_HOOKS
// glibc's own entry points, called by the counting replacements below.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size)
{
    alloc_counter::Hooks::allocated();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size)
{
    alloc_counter::Hooks::allocated();
    return __libc_calloc(count, size);
}

void* realloc(void* p, std::size_t size)
{
    alloc_counter::Hooks::allocated();
    return __libc_realloc(p, size);
}

void free(void* p)
{
    alloc_counter::Hooks::freed(p);
    __libc_free(p);
}

void* memalign(std::size_t alignment, std::size_t size)
{
    alloc_counter::Hooks::allocated();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    alloc_counter::Hooks::allocated();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size)
{
    alloc_counter::Hooks::allocated();
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr)
        return 12; // ENOMEM
    *out = p;
    return 0;
}
}
#endif
