#pragma once

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <pthread.h>

namespace testing_support
{

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        static std::atomic<int> counter{0};
        std::random_device device;
        path_ = std::filesystem::temp_directory_path()
                / ("ferrowick-test-" + std::to_string(device()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes text to name inside the folder and returns the full path.
    std::string write(const std::string& name, const std::string& text) const
    {
        const auto file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out << text;
        return file.string();
    }

    std::string write_json(const std::string& name, const nlohmann::json& value) const
    {
        return write(name, value.dump());
    }

private:
    std::filesystem::path path_;
};

// piece, that many times over.
inline std::string repeated(const std::string& piece, int times)
{
    std::string text;
    text.reserve(piece.size() * static_cast<size_t>(times));
    for (int i = 0; i < times; i++)
        text += piece;
    return text;
}

// The stack on which every reader of outside text must cope with any nesting: a host's loader
// thread may have little more.
inline constexpr size_t small_stack = 256 * 1024;

// Runs job to its end on a new thread with a stack of that many bytes (a std::thread cannot be
// given a stack size).
inline void run_on_stack(size_t bytes, const std::function<void()>& job)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, bytes);
    pthread_t thread;
    auto entry = [](void* f) -> void* {
        (*static_cast<const std::function<void()>*>(f))();
        return nullptr;
    };
    if (pthread_create(&thread, &attributes, entry, const_cast<std::function<void()>*>(&job)) != 0)
        std::abort();
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// count values drawn uniformly from [low, high) with a fixed seed.
inline std::vector<float> uniform_values(size_t count, unsigned seed, float low, float high)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> distribution(low, high);
    std::vector<float> values(count);
    for (auto& v : values)
        v = distribution(generator);
    return values;
}

// n samples of uniform noise in [-1, 1) from a fixed seed.
inline std::vector<float> noise(int n, unsigned seed)
{
    return uniform_values(static_cast<size_t>(n), seed, -1.0f, 1.0f);
}

} // namespace testing_support
