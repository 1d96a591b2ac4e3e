#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <vector>

namespace kep
{

// The parts of a model's state that its next blocks read before they overwrite them (the
// history columns just before the current position, recurrent state), kept one window after
// another in one array. A model names the same windows, in the same order and of the same
// lengths, when it keeps them and when it puts them back.
class StateCopy
{
public:
    // Loading thread: forgets any earlier copy and starts a new one. May allocate.
    void start()
    {
        values_.clear();
        kept_ = true;
    }

    // Loading thread: appends count values from window, or count zeros when window is null (a
    // window the model does not hold yet and will read as zeros).
    void keep(const float* window, std::ptrdiff_t count)
    {
        if (window == nullptr)
            values_.insert(values_.end(), static_cast<std::size_t>(count), 0.0f);
        else
            values_.insert(values_.end(), window, window + count);
    }

    // False until start() has been called.
    bool kept() const { return kept_; }

    // Audio thread: hands the kept windows back in order. Allocates nothing.
    class Reader
    {
    public:
        explicit Reader(const StateCopy& copy) : next_(copy.values_.data()), end_(next_ + copy.values_.size()) {}

        // Copies the next count values into window, or passes over them when window is null.
        // Never reads past the copy, even if asked for more than was kept.
        void put_back(float* window, std::ptrdiff_t count)
        {
            assert(count <= end_ - next_);
            count = std::min(count, end_ - next_);
            if (window != nullptr)
                std::copy_n(next_, count, window);
            next_ += count;
        }

    private:
        const float* next_;
        const float* end_;
    };

private:
    std::vector<float> values_;
    bool kept_ = false;
};

} // namespace kep
