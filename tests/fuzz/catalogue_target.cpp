// Fuzz target: the texts of a catalogue folder through the entry loader and the table painting.
// Input: "metadata.txt", then a zero byte and "settings.txt" (absent without a zero byte).
#include <algorithm>
#include <cstring>

#include "fuzz_support.h"
#include "plugin/ModelSource.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz_support::workDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto folder = fuzz_support::resourceDir() / "Models" / "Fuzz";
    const auto* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t metadataSize = zero != nullptr ? static_cast<size_t>(zero - data) : size;
    fuzz_support::writeFile(folder / "metadata.txt", data, metadataSize);
    std::error_code ignored;
    std::filesystem::remove(folder / "settings.txt", ignored);
    if (zero != nullptr)
        fuzz_support::writeFile(folder / "settings.txt", zero + 1, size - metadataSize - 1);

    auto entry = ModelSource::loadModel("Fuzz");
    juce::Image image(juce::Image::ARGB, 40, 12, true);
    juce::Graphics g(image);
    const int rows = std::min(entry.getNumRows(), 3);
    for (int row = -1; row <= rows; row++)
    {
        entry.paintRowBackground(g, row, 40, 12, row == 0);
        for (int column = 0; column <= entry.ColumnNames.size() + 1 && column < 6; column++)
            entry.paintCell(g, row, column, 40, 12, false);
    }
    entry.selectedRowsChanged(rows - 1);
    return 0;
}
