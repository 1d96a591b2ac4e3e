// Speed of the model architectures on one thread, in 256- and 128-sample blocks.
//   kep_model_bench [SECONDS_OF_AUDIO_PER_RUN]
//
// Writes model files with fixed-seed random weights to a temporary folder, loads them the way
// the plug-in does (read_config_file + get_dsp) and reports for each: real-time factor (seconds
// of 48 kHz audio per wall-clock second), FLOPs per sample, achieved GFLOP/s, load time (read,
// build and warm-up), and the model's time against its floor: the time of the model's own
// tanhf/expf calls per sample run on their own, measured in the same run.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/convnet.h"
#include "core/get_dsp.h"
#include "core/model_file.h"
#include "core/wavenet.h"

namespace
{

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr double sample_rate = 48000.0;

struct ModelCase
{
    std::string name;
    std::string architecture;
    json config;
    std::vector<float> weights;
    double flops_per_sample = 0.0; // multiply-adds count 2
    double tanh_per_sample = 0.0;  // tanhf calls per sample
    double exp_per_sample = 0.0;   // expf calls per sample (sigmoids)
};

std::vector<float> random_weights(size_t count, unsigned seed, float scale)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-scale, scale);
    std::vector<float> w(count);
    for (auto& x : w)
        x = dist(rng);
    return w;
}

std::vector<int> powers_of_two(int last)
{
    std::vector<int> d;
    for (int v = 1; v <= last; v *= 2)
        d.push_back(v);
    return d;
}

ModelCase realistic_wavenet()
{
    struct Array
    {
        int input_size, channels, head_size;
        bool head_bias;
    };
    const Array arrays[] = {{1, 16, 8, false}, {16, 8, 1, true}};
    const std::vector<int> dilations = powers_of_two(512);
    const int kernel_size = 3;
    ModelCase m;
    m.name = "WaveNet (realistic)";
    m.architecture = "WaveNet";
    json layers = json::array();
    size_t count = 1;
    for (const Array& a : arrays)
    {
        layers.push_back({{"input_size", a.input_size}, {"condition_size", 1}, {"head_size", a.head_size},
                          {"channels", a.channels}, {"kernel_size", kernel_size}, {"dilations", dilations},
                          {"activation", "Tanh"}, {"gated", false}, {"head_bias", a.head_bias}});
        const double C = a.channels, L = static_cast<double>(dilations.size()), K = kernel_size;
        const double H = a.head_size, I = a.input_size;
        count += static_cast<size_t>(C * I + L * (C * C * K + C + C + C * C + C) + H * C + (a.head_bias ? H : 0));
        // Products, plus per layer: conv bias, head sum, residual, output bias; then the head bias.
        m.flops_per_sample += 2 * (C * I + L * (C * C * K + C + C * C) + H * C) + L * 4 * C + (a.head_bias ? H : 0);
        m.tanh_per_sample += L * C;
    }
    m.config = {{"layers", layers}, {"head", nullptr}, {"head_scale", 0.02}};
    m.weights = random_weights(count, 1234, 0.15f);
    return m;
}

ModelCase lstm()
{
    const int I = 1, H = 16;
    ModelCase m;
    m.name = "LSTM 1x16";
    m.architecture = "LSTM";
    m.config = {{"num_layers", 1}, {"input_size", I}, {"hidden_size", H}};
    m.weights = random_weights(static_cast<size_t>(4 * H * (I + H) + 6 * H + H + 1), 2345, 0.3f);
    m.flops_per_sample = 2.0 * 4 * H * (I + H) + 4 * H + 5 * H + 2 * H + 1;
    m.tanh_per_sample = 2 * H;
    m.exp_per_sample = 3 * H;
    return m;
}

ModelCase convnet()
{
    const int C = 16;
    const std::vector<int> dilations = powers_of_two(128);
    ModelCase m;
    m.name = "ConvNet 16 ch, batchnorm";
    m.architecture = "ConvNet";
    m.config = {{"channels", C}, {"batchnorm", true}, {"dilations", dilations}, {"activation", "Tanh"}};
    std::mt19937 rng(3456);
    std::uniform_real_distribution<float> dist(-0.3f, 0.3f);
    for (size_t i = 0; i < dilations.size(); i++)
    {
        const int in = i == 0 ? 1 : C;
        for (int k = 0; k < 2 * C * in; k++)
            m.weights.push_back(dist(rng));
        for (int r = 0; r < C; r++)
            m.weights.push_back(dist(rng)); // running means
        for (int r = 0; r < C; r++)
            m.weights.push_back(0.5f + std::fabs(dist(rng))); // running variances: positive
        for (int r = 0; r < C; r++)
            m.weights.push_back(1.0f + dist(rng)); // batchnorm weights
        for (int r = 0; r < C; r++)
            m.weights.push_back(dist(rng)); // batchnorm biases
        m.weights.push_back(1e-5f);         // epsilon
        m.flops_per_sample += 2.0 * 2 * C * in + 2 * C;
        m.tanh_per_sample += C;
    }
    for (int r = 0; r <= C; r++)
        m.weights.push_back(dist(rng)); // head weights and bias
    m.flops_per_sample += 2.0 * C + 1;
    return m;
}

ModelCase linear()
{
    const int taps = 1024;
    ModelCase m;
    m.name = "Linear 1024 taps";
    m.architecture = "Linear";
    m.config = {{"receptive_field", taps}, {"bias", true}};
    m.weights = random_weights(taps + 1, 4567, 0.05f);
    m.flops_per_sample = 2.0 * taps + 1;
    return m;
}

std::vector<float> guitar_like_signal(size_t length)
{
    std::vector<float> x(length);
    for (size_t i = 0; i < length; i++)
    {
        const float t = static_cast<float>(i) / static_cast<float>(sample_rate);
        x[i] = 0.4f * std::sin(2.0f * 3.14159265f * 110.0f * t) + 0.2f * std::sin(2.0f * 3.14159265f * 331.0f * t)
               + 0.05f * std::sin(2.0f * 3.14159265f * 1870.0f * t);
    }
    return x;
}

// Best wall time of `repeats` runs of fn.
double best_seconds(int repeats, const std::function<void()>& fn)
{
    double best = 1e300;
    for (int r = 0; r < repeats; r++)
    {
        const auto start = Clock::now();
        fn();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// The values that the model's activations saw in its last block of `block` samples, when they
// can be recovered: layers whose activation is plain "Tanh" keep tanh of those values in their
// work matrices (WaveNet) or stage matrices (ConvNet). Empty otherwise.
std::vector<float> captured_activation_inputs(kep::DSP& model, int block)
{
    const auto* tanh = kep::activations::Activation::get_activation("Tanh");
    std::vector<float> values;
    auto take = [&values](const auto& outputs) {
        for (long j = 0; j < outputs.cols(); j++)
            for (long r = 0; r < outputs.rows(); r++)
                values.push_back(std::atanh(std::clamp(outputs(r, j), -0.9999999f, 0.9999999f)));
    };
    if (auto* wavenet = dynamic_cast<kep::wavenet::WaveNet*>(&model))
    {
        for (const auto& array : wavenet->layer_arrays)
            for (const auto& layer : array.layers)
            {
                if (layer.gated || layer.activation != tanh)
                    return {};
                take(layer.layer_work.leftCols(block));
            }
        return values;
    }
    if (auto* convnet = dynamic_cast<kep::convnet::ConvNet*>(&model))
    {
        const long start = static_cast<long>(convnet->input_buffer_offset) - block;
        for (size_t b = 0; b < convnet->blocks.size(); b++)
        {
            if (convnet->blocks[b].activation != tanh || start < 0)
                return {};
            take(convnet->stage_signals[b + 1].middleCols(start, block));
        }
        return values;
    }
    return {};
}

// Time of the model's own activation calls for `samples` samples, in blocks of `block` samples:
// on the model's own values when they could be captured, else on values of a plausible spread.
double floor_seconds(const ModelCase& m, size_t samples, int block, int repeats, const std::vector<float>& captured)
{
    const size_t tanh_per_block = static_cast<size_t>(m.tanh_per_sample * block);
    const size_t exp_per_block = static_cast<size_t>(m.exp_per_sample * block);
    std::vector<float> source(std::max<size_t>(tanh_per_block + exp_per_block, 1));
    if (captured.size() == source.size())
        source = captured;
    else
    {
        std::mt19937 rng(99);
        std::normal_distribution<float> dist(0.0f, 0.8f);
        for (auto& v : source)
            v = dist(rng);
    }
    std::vector<float> work(source.size());
    volatile float sink = 0.0f;
    const size_t blocks = samples / static_cast<size_t>(block);
    return best_seconds(repeats, [&] {
        for (size_t b = 0; b < blocks; b++)
        {
            std::copy(source.begin(), source.end(), work.begin());
            float* data = work.data();
            for (size_t i = 0; i < tanh_per_block; i++)
                data[i] = tanhf(data[i]);
            data += tanh_per_block;
            for (size_t i = 0; i < exp_per_block; i++)
                data[i] = 1.0f / (expf(-data[i]) + 1.0f);
            sink = sink + work[b % work.size()];
        }
    });
}

void run_case(const ModelCase& m, const std::filesystem::path& folder, double seconds)
{
    const std::filesystem::path file = folder / (m.architecture + ".kep");
    {
        json doc = {{"version", "0.5.1"}, {"architecture", m.architecture}, {"config", m.config},
                    {"weights", m.weights},  {"metadata", {{"loudness", -18.0}}}, {"sample_rate", sample_rate}};
        std::ofstream(file) << doc.dump();
    }
    std::unique_ptr<kep::DSP> model;
    const auto load_start = Clock::now();
    try
    {
        kep::dspData data = kep::read_config_file(file.string());
        model = kep::get_dsp(data);
    }
    catch (const std::exception& e)
    {
        std::printf("%-26s unavailable: %s\n", m.name.c_str(), e.what());
        return;
    }
    const double load = std::chrono::duration<double>(Clock::now() - load_start).count();
    std::printf("%-26s %zu weights, load (read + build + warm-up) %.1f ms, %.0f FLOP/sample, %.0f tanhf + %.0f expf "
                "per sample\n",
                m.name.c_str(), m.weights.size(), load * 1e3, m.flops_per_sample, m.tanh_per_sample, m.exp_per_sample);

    const size_t samples = static_cast<size_t>(seconds * sample_rate);
    std::vector<float> input = guitar_like_signal(samples), output(samples);
    const int repeats = 3;
    for (int block : {256, 128})
    {
        const size_t usable = samples / static_cast<size_t>(block) * static_cast<size_t>(block);
        const double t = best_seconds(repeats, [&] {
            for (size_t pos = 0; pos < usable; pos += static_cast<size_t>(block))
                model->process(input.data() + pos, output.data() + pos, block);
        });
        const double audio = static_cast<double>(usable) / sample_rate;
        const double per_sample = t / static_cast<double>(usable);
        std::printf("    block %3d: %7.2fx real time, %6.3f us/sample, %6.2f GFLOP/s", block, audio / t, per_sample * 1e6,
                    m.flops_per_sample * static_cast<double>(usable) / t / 1e9);
        if (m.tanh_per_sample + m.exp_per_sample > 0)
        {
            const std::vector<float> captured = captured_activation_inputs(*model, block);
            const double floor = floor_seconds(m, usable, block, repeats, captured);
            std::printf(", activation floor %6.3f us/sample (%s values), model / floor %.2f",
                        floor / static_cast<double>(usable) * 1e6, captured.empty() ? "synthetic" : "the model's",
                        t / floor);
        }
        std::printf("\n");
    }
    bool finite = true;
    for (float y : output)
        finite = finite && std::isfinite(y);
    if (!finite)
        std::printf("    WARNING: non-finite output\n");
}

} // namespace

int main(int argc, char** argv)
{
    const char* usage = "usage: %s [SECONDS]\n"
                        "Times the four model architectures on one thread; SECONDS of 48 kHz audio per run\n"
                        "(default 2, best of 3).\n";
    char* end = nullptr;
    const double seconds = argc > 1 ? std::strtod(argv[1], &end) : 2.0;
    if (argc > 2 || (argc > 1 && (end == argv[1] || *end != '\0' || !(seconds > 0.0))))
    {
        const bool asked = argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h");
        std::fprintf(asked ? stdout : stderr, usage, argv[0]);
        return asked ? 0 : 2;
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("ferrowick-model-bench-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    std::printf("one thread, %.1f s of 48 kHz audio per run, best of 3\n", seconds);
    for (const ModelCase& m : {realistic_wavenet(), lstm(), convnet(), linear()})
        run_case(m, folder, seconds);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
