// Loads a model file, runs a test signal through it in blocks and reports what it did.
//   kep_run_model MODEL_FILE [SECONDS] [BLOCK]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "core/get_dsp.h"
#include "core/model_file.h"

int main(int argc, char** argv)
{
    // A BLOCK of 0 would never finish, a negative one or SECONDS would index outside the signal;
    // SECONDS is written in decimal (strtod would also take hexadecimal).
    char* end = nullptr;
    const double seconds = argc > 2 ? std::strtod(argv[2], &end) : 2.0;
    const bool seconds_decimal = argc <= 2 || std::strspn(argv[2], "0123456789.eE+-") == std::strlen(argv[2]);
    const bool seconds_ok =
        argc <= 2 || (seconds_decimal && *end == '\0' && end != argv[2] && seconds >= 0.0 && seconds < 1e6);
    const long block = argc > 3 ? std::strtol(argv[3], &end, 10) : 256;
    const bool block_ok = argc <= 3 || (*end == '\0' && end != argv[3] && block >= 1 && block <= (1 << 20));
    if (argc < 2 || argc > 4 || !seconds_ok || !block_ok)
    {
        std::fprintf(stderr, "usage: %s MODEL_FILE [SECONDS] [BLOCK]\n"
                             "  SECONDS from 0 to below 1000000 (default 2)\n"
                             "  BLOCK a whole number of samples from 1 to 1048576 (default 256)\n",
                     argv[0]);
        return 2;
    }
    const int rate = 48000;
    try
    {
        const auto load_start = std::chrono::steady_clock::now();
        kep::dspData data = kep::read_config_file(argv[1]);
        const std::string architecture = data.architecture;
        const size_t weight_count = data.weights.size();
        std::unique_ptr<kep::DSP> model = kep::get_dsp(data);
        const double load_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - load_start).count();

        // The signal is made and played a stretch at a time (whole blocks, about 64k samples), so
        // that a long run needs no more memory than a short one; only the model's work is timed.
        const long total = static_cast<long>(seconds * rate);
        const long stretch = block * std::max(1L, 65536 / block);
        std::vector<float> input(static_cast<size_t>(std::min(stretch, total))), output(input.size());
        double sum = 0.0, peak = 0.0, run_seconds = 0.0;
        bool finite = true;
        for (long first = 0; first < total; first += stretch)
        {
            const long count = std::min(stretch, total - first);
            for (long j = 0; j < count; j++)
                input[static_cast<size_t>(j)] =
                    0.5f * std::sin(2.0f * 3.14159265f * 110.0f * static_cast<float>(first + j) / rate);

            const auto start = std::chrono::steady_clock::now();
            for (long pos = 0; pos < count; pos += block)
            {
                const int n = static_cast<int>(std::min(block, count - pos));
                model->process(input.data() + pos, output.data() + pos, n);
            }
            run_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

            for (long j = 0; j < count; j++)
            {
                const float y = output[static_cast<size_t>(j)];
                finite = finite && std::isfinite(y);
                sum += static_cast<double>(y) * y;
                peak = std::max(peak, static_cast<double>(std::fabs(y)));
            }
        }
        const double rms = total > 0 ? std::sqrt(sum / static_cast<double>(total)) : 0.0;
        std::printf("model: %s (%s, %zu weights, ", argv[1], architecture.c_str(), weight_count);
        if (model->has_loudness)
            std::printf("loudness %.2f)\n", model->loudness);
        else
            std::printf("no loudness)\n");
        std::printf("load + warm-up: %.3f ms\n", load_seconds * 1e3);
        std::printf("processed %ld samples in blocks of %ld: rms %.6f, peak %.6f, %s\n", total, block, rms, peak,
                    finite ? "all finite" : "NON-FINITE OUTPUT");
        std::printf("real-time factor: %.1fx\n", run_seconds > 0 ? seconds / run_seconds : 0.0);
        return finite ? 0 : 1;
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "failed to load or run the model: %s\n", e.what());
        return 1;
    }
}
