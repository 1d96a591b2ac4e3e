#include "plugin/CatalogueFile.h"

#include <filesystem>
#include <system_error>

std::optional<juce::MemoryBlock> readCatalogueFile(const juce::File& file, size_t maxBytes)
{
    const std::filesystem::path path(file.getFullPathName().toStdString());
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > maxBytes)
        return std::nullopt;

    juce::FileInputStream in(file);
    if (!in.openedOk())
        return std::nullopt;
    // At most one byte more than allowed, for a file that grew since its size was read.
    juce::MemoryBlock bytes;
    in.readIntoMemoryBlock(bytes, static_cast<ssize_t>(maxBytes) + 1);
    if (bytes.getSize() > maxBytes)
        return std::nullopt;
    return bytes;
}
