#pragma once

#include <optional>

#include <juce_core/juce_core.h>

// Where and how a file that is replaced whole (written to a temporary file, then renamed over it)
// gets its replacement, so that the replacement behaves like a write into the file itself.
namespace file_replacement
{
// The file to rename the replacement over: the file itself, or, when it is a symbolic link, the
// end of its chain of links (relative links read from the link's own folder, as the system reads
// them), which may not exist yet. Empty when that end's folder is missing, or for a chain longer
// than the system follows (a loop).
std::optional<juce::File> target(const juce::File& file);

// Gives the replacement the permissions of the regular file it will replace; true when there is
// no such file. False when they could not be set: the caller then keeps the old file.
bool keepPermissions(const juce::File& replaced, const juce::File& replacement);
} // namespace file_replacement
