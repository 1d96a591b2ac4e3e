// Fuzz target: a model file through the reader, the factory and a few blocks of audio.
#include <cmath>
#include <exception>
#include <vector>

#include "core/get_dsp.h"
#include "core/model_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz_support::workDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto path = fuzz_support::workDir() / "model.kep";
    fuzz_support::writeFile(path, data, size);

    // Blocks of mixed lengths, up to the warm-up's 512 (the processor passes at most 256).
    static const int lengths[] = {1, 64, 0, 512, 17, 256, 3};
    static std::vector<float> input = [] {
        std::vector<float> signal(512);
        for (size_t i = 0; i < signal.size(); i++)
            signal[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
        return signal;
    }();
    std::vector<float> output(512);
    try
    {
        kep::dspData record = kep::read_config_file(path.string());
        auto model = kep::get_dsp(record);
        for (const int n : lengths)
            model->process(input.data(), output.data(), n);
    }
    catch (const std::exception&)
    {
        // Refusing a malformed file is the expected outcome.
    }
    return 0;
}
