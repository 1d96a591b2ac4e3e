#include "plugin/FileReplacement.h"

#include <filesystem>

namespace file_replacement
{

namespace
{
namespace fs = std::filesystem;

// Linux's own limit on the links it follows in one path before it reports a loop.
constexpr int maxLinks = 40;

fs::path pathOf(const juce::File& file)
{
    return fs::path(file.getFullPathName().toRawUTF8());
}
} // namespace

std::optional<juce::File> target(const juce::File& file)
{
    auto path = pathOf(file);
    std::error_code error;
    int links = 0;
    while (fs::is_symlink(fs::symlink_status(path, error)))
    {
        if (++links > maxLinks)
            return std::nullopt;
        const auto linked = fs::read_symlink(path, error);
        if (error)
            return std::nullopt;
        path = path.parent_path() / linked; // an absolute link replaces the whole path
    }
    if (links == 0)
        return file;

    // The folder as the system resolves it: juce::File would fold "linked-folder/.." lexically.
    const auto folder = fs::canonical(path.parent_path(), error);
    if (error)
        return std::nullopt;
    return juce::File(juce::String::fromUTF8((folder / path.filename()).c_str()));
}

bool keepPermissions(const juce::File& replaced, const juce::File& replacement)
{
    std::error_code error;
    const auto status = fs::status(pathOf(replaced), error);
    if (!fs::is_regular_file(status))
        return true;
    fs::permissions(pathOf(replacement), status.permissions(), fs::perm_options::replace, error);
    return !error;
}

} // namespace file_replacement
