#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

// Shared by the fuzz targets: a fresh temporary folder for the whole run, set as HOME before
// anything reads it (the plug-in keeps its files under $HOME/.config), removed at exit.
namespace fuzz_support
{

inline const std::filesystem::path& workDir()
{
    // Never destroyed, so that the clean-up at exit can still read it.
    static const std::filesystem::path* const dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "ferrowick-fuzz.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        ::setenv("HOME", pattern.c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(workDir(), ignored);
        });
        return new std::filesystem::path(pattern);
    }();
    return *dir;
}

// The plug-in's resource folder below the fresh HOME.
inline std::filesystem::path resourceDir()
{
    return workDir() / ".config" / "Quorvex" / "Ferrowick";
}

inline void writeFile(const std::filesystem::path& path, const uint8_t* data, size_t size)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace fuzz_support
