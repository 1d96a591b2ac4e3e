#pragma once

#include <cstddef>
#include <optional>

#include <juce_core/juce_core.h>

// Catalogue folders are shared between users, so their files are read with bounds: only a
// regular file (or a link to one) of at most maxBytes. A link to a device or a pipe would
// otherwise hang the host or fill its memory.
inline constexpr size_t maxCatalogueTextBytes = size_t { 16 } << 20; // "metadata.txt", "settings.txt"
inline constexpr size_t maxCataloguePictureBytes = size_t { 64 } << 20;

// The file's bytes; nothing when it is missing, not a regular file, larger than maxBytes or
// unreadable.
std::optional<juce::MemoryBlock> readCatalogueFile(const juce::File& file, size_t maxBytes);
