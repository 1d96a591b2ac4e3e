#pragma once

#include <cstddef>

// Counts heap allocations and frees (malloc family, and so operator new / delete and Eigen's
// allocations) made on the current thread while a Scope is alive. The counting replacements of
// the malloc family live in alloc_counter.cpp; they are left out under sanitizers, which bring
// their own, and then enabled() is false.
namespace alloc_counter
{

struct Counts
{
    std::size_t allocations = 0;
    std::size_t deallocations = 0;
};

bool enabled();

class Scope
{
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    Counts counts() const { return counts_; }

private:
    Counts counts_;
    Scope* previous_;
    friend struct Hooks;
};

} // namespace alloc_counter
