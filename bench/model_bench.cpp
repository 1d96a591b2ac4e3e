// Speed of the model architectures on one thread, in 256- and 128-sample blocks.
//   kep_model_bench [SECONDS_OF_AUDIO_PER_RUN]
//
// Writes model files with fixed-seed random weights to a temporary folder, loads them the way
// the plug-in does (read_config_file + get_dsp) and reports for each: real-time factor (seconds
// of 48 kHz audio per wall-clock second), FLOPs per sample, achieved GFLOP/s, load time (read,
// build and warm-up), and the model's time against its floors: the time of the model's own
// tanh and sigmoid calls per sample run on their own, on the values they see in the model and in
// the runs the model passes, measured in the same run, once with the C library's scalar tanhf and
// expf and once with the vectorised versions the model uses. It also measures the core's peak rate
// of fused multiply-adds, and so the least time the model's arithmetic could take beside its
// activations: the lowest ratio to the vector floor that any implementation could reach here.
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

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KEP_BENCH_PEAK 1
#else
#define KEP_BENCH_PEAK 0
#endif

#include "core/convnet.h"
#include "core/get_dsp.h"
#include "core/model_file.h"
#include "core/lstm.h"
#include "core/vector_math.h"
#include "core/wavenet.h"

namespace
{

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr double sample_rate = 48000.0;
constexpr size_t lstm_floor_samples = 256; // the LSTM's floor is measured on this many samples

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

// The work of a model's tanh and sigmoid calls for `samples` samples: the values they saw and the
// runs the model passes to each call, in the model's order.
struct ActivationWork
{
    struct Run
    {
        bool sigmoid;
        size_t offset, length;
    };
    std::vector<float> values;
    std::vector<Run> runs;
    size_t samples = 0;

    void add(bool sigmoid, const float* data, size_t length)
    {
        runs.push_back({sigmoid, values.size(), length});
        values.insert(values.end(), data, data + length);
    }
};

// What the model's activations saw in its last block of `block` samples, when it can be recovered:
// layers whose activation is plain "Tanh" keep tanh of those values in their work matrices
// (WaveNet) or stage matrices (ConvNet); one call per layer and block, as the model makes.
// Empty otherwise.
ActivationWork captured_block(kep::DSP& model, int block)
{
    const auto* tanh = kep::activations::Activation::get_activation("Tanh");
    ActivationWork work;
    work.samples = static_cast<size_t>(block);
    auto take = [&work](const auto& outputs) {
        std::vector<float> run;
        for (long j = 0; j < outputs.cols(); j++)
            for (long r = 0; r < outputs.rows(); r++)
                run.push_back(std::atanh(std::clamp(outputs(r, j), -0.9999999f, 0.9999999f)));
        work.add(false, run.data(), run.size());
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
        return work;
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
        return work;
    }
    return {};
}

// The LSTM runs sample by sample, whatever the block size: its calls for `samples` further samples
// of the signal, each sample's gate values computed as the cell computes them, and the new cell
// state that its tanh sees.
ActivationWork captured_lstm(kep::DSP& model, const std::vector<float>& signal, size_t samples)
{
    auto* lstm = dynamic_cast<kep::lstm::LSTM*>(&model);
    ActivationWork work;
    if (lstm == nullptr || lstm->layers.empty())
        return work;
    work.samples = samples;
    Eigen::VectorXf gates, previous_hidden;
    for (size_t s = 0; s < samples; s++)
    {
        float x = signal[s % signal.size()], y = 0.0f;
        std::vector<Eigen::VectorXf> layer_gates;
        for (size_t l = 0; l < lstm->layers.size(); l++)
        {
            kep::lstm::LSTMCell& cell = lstm->layers[l];
            const Eigen::Index h = cell.hidden_size();
            Eigen::VectorXf in_and_hidden = cell.input_and_hidden;
            if (l == 0)
                in_and_hidden(0) = x;
            else
                in_and_hidden.head(h) = lstm->layers[l - 1].input_and_hidden.tail(h);
            gates = cell.gate_biases;
            gates.noalias() += cell.gate_weights * in_and_hidden;
            layer_gates.push_back(gates);
        }
        lstm->process(&x, &y, 1);
        for (size_t l = 0; l < lstm->layers.size(); l++)
        {
            const kep::lstm::LSTMCell& cell = lstm->layers[l];
            const size_t h = static_cast<size_t>(cell.hidden_size());
            const float* g = layer_gates[l].data();
            work.add(true, g, 2 * h);
            work.add(false, g + 2 * h, h);
            work.add(true, g + 3 * h, h);
            work.add(false, cell.cell_state.data(), h);
        }
    }
    return work;
}

// Values of a plausible spread, for a model whose own values cannot be recovered.
ActivationWork synthetic_work(const ModelCase& m, int block)
{
    ActivationWork work;
    work.samples = static_cast<size_t>(block);
    std::mt19937 rng(99);
    std::normal_distribution<float> dist(0.0f, 0.8f);
    std::vector<float> values(static_cast<size_t>((m.tanh_per_sample + m.exp_per_sample) * block));
    for (auto& v : values)
        v = dist(rng);
    const size_t tanh_count = static_cast<size_t>(m.tanh_per_sample * block);
    work.add(false, values.data(), tanh_count);
    work.add(true, values.data() + tanh_count, values.size() - tanh_count);
    return work;
}

#if KEP_BENCH_PEAK
// Twelve independent chains of 8-lane fused multiply-adds: more than their latency needs.
__attribute__((target("avx2,fma"))) float fused_multiply_adds(long iterations)
{
    constexpr int chains = 12;
    __m256 acc[chains];
#pragma GCC unroll 12
    for (int i = 0; i < chains; i++)
        acc[i] = _mm256_set1_ps(0.001f * static_cast<float>(i));
    const __m256 a = _mm256_set1_ps(0.999f), b = _mm256_set1_ps(0.0001f);
    for (long n = 0; n < iterations; n++)
#pragma GCC unroll 12
        for (int i = 0; i < chains; i++)
            acc[i] = _mm256_fmadd_ps(acc[i], a, b);
    float sum = 0.0f;
    for (int i = 0; i < chains; i++)
        sum += _mm256_cvtss_f32(acc[i]);
    return sum;
}

// The same with 16 lanes: as fast per value, or twice as fast, depending on the CPU.
__attribute__((target("avx512f"))) float fused_multiply_adds_16(long iterations)
{
    constexpr int chains = 12;
    __m512 acc[chains];
#pragma GCC unroll 12
    for (int i = 0; i < chains; i++)
        acc[i] = _mm512_set1_ps(0.001f * static_cast<float>(i));
    const __m512 a = _mm512_set1_ps(0.999f), b = _mm512_set1_ps(0.0001f);
    for (long n = 0; n < iterations; n++)
#pragma GCC unroll 12
        for (int i = 0; i < chains; i++)
            acc[i] = _mm512_fmadd_ps(acc[i], a, b);
    float sum = 0.0f;
    for (int i = 0; i < chains; i++)
        sum += _mm512_cvtss_f32(acc[i]);
    return sum;
}
#endif

// This core's peak FLOPs per second in fused multiply-adds (each counting 2), or 0 where it has
// none.
double peak_flops_per_second()
{
#if KEP_BENCH_PEAK
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
        return 0.0;
    const long iterations = 20'000'000;
    volatile float sink = 0.0f;
    const double t = best_seconds(3, [&] { sink = sink + fused_multiply_adds(iterations); });
    double peak = static_cast<double>(iterations) * 12 * 8 * 2 / t;
    if (__builtin_cpu_supports("avx512f"))
    {
        const double t16 = best_seconds(3, [&] { sink = sink + fused_multiply_adds_16(iterations); });
        peak = std::max(peak, static_cast<double>(iterations) * 12 * 16 * 2 / t16);
    }
    return peak;
#else
    return 0.0;
#endif
}

// Time of the activation calls alone for `samples` samples, with the given kernels: the captured
// work repeated as often as needed. Only the calls are timed, not the copies that restore the
// values between repetitions.
double floor_seconds(const ActivationWork& work, const kep::vector_math::Kernels& kernels, size_t samples,
                     int repeats)
{
    std::vector<float> scratch(work.values.size());
    volatile float sink = 0.0f;
    const size_t units = std::max<size_t>(samples / work.samples, 1);
    double best = 1e300;
    for (int r = 0; r < repeats; r++)
    {
        double total = 0.0;
        for (size_t u = 0; u < units; u++)
        {
            std::copy(work.values.begin(), work.values.end(), scratch.begin());
            const auto start = Clock::now();
            for (const auto& run : work.runs)
                (run.sigmoid ? kernels.sigmoid : kernels.tanh)(scratch.data() + run.offset, static_cast<long>(run.length));
            total += std::chrono::duration<double>(Clock::now() - start).count();
            sink = sink + scratch[u % scratch.size()];
        }
        best = std::min(best, total * static_cast<double>(samples) / static_cast<double>(units * work.samples));
    }
    return best;
}

void run_case(const ModelCase& m, const std::filesystem::path& folder, double seconds, double peak)
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
    ActivationWork sample_by_sample;
    // Per-sample library and vector floors of the sample-by-sample work, timed once.
    double sample_by_sample_floors[2] = {0.0, 0.0};
    for (int block : {256, 128})
    {
        const size_t usable = samples / static_cast<size_t>(block) * static_cast<size_t>(block);
        const double t = best_seconds(repeats, [&] {
            for (size_t pos = 0; pos < usable; pos += static_cast<size_t>(block))
                model->process(input.data() + pos, output.data() + pos, block);
        });
        const double audio = static_cast<double>(usable) / sample_rate;
        const double per_sample = t / static_cast<double>(usable);
        std::printf("    block %3d: %7.2fx real time, %6.1f ns/sample, %6.2f GFLOP/s", block, audio / t, per_sample * 1e9,
                    m.flops_per_sample * static_cast<double>(usable) / t / 1e9);
        if (m.tanh_per_sample + m.exp_per_sample > 0)
        {
            ActivationWork work = captured_block(*model, block);
            if (work.runs.empty())
            {
                // Captured once: the same floor for every block size.
                if (sample_by_sample.runs.empty())
                    sample_by_sample = captured_lstm(*model, input, lstm_floor_samples);
                work = sample_by_sample;
            }
            const bool own = !work.runs.empty();
            if (!own)
                work = synthetic_work(m, block);
            const double n = static_cast<double>(usable);
            const bool timed = sample_by_sample_floors[0] > 0.0;
            const double library_floor = timed ? sample_by_sample_floors[0] * n
                                               : floor_seconds(work, kep::vector_math::library(), usable, repeats);
            const double vector_floor = timed ? sample_by_sample_floors[1] * n
                                              : floor_seconds(work, kep::vector_math::active(), usable, repeats);
            if (!sample_by_sample.runs.empty())
                sample_by_sample_floors[0] = library_floor / n, sample_by_sample_floors[1] = vector_floor / n;
            std::printf(",\n               floors on %s values: library %6.1f ns/sample, vector %6.1f ns/sample; "
                        "model / library floor %.2f, model / vector floor %.2f",
                        own ? "the model's" : "synthetic", library_floor / n * 1e9, vector_floor / n * 1e9,
                        t / library_floor, t / vector_floor);
            if (peak > 0.0)
            {
                // No implementation can take less than the vector floor plus its FLOPs at the peak rate.
                const double arithmetic = m.flops_per_sample * n / peak;
                std::printf(",\n               the model's FLOPs at the core's peak %6.1f ns/sample: model / vector floor "
                            "can be no lower than %.2f",
                            arithmetic / n * 1e9, (vector_floor + arithmetic) / vector_floor);
            }
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
    std::printf("one thread, %.1f s of 48 kHz audio per run, best of 3; tanh %s, exp and sigmoid %s\n", seconds,
                kep::vector_math::active().tanh_name, kep::vector_math::active().exp_name);
    const double peak = peak_flops_per_second();
    if (peak > 0.0)
        std::printf("this core's peak: %.1f GFLOP/s in fused multiply-adds\n", peak / 1e9);
    for (const ModelCase& m : {realistic_wavenet(), lstm(), convnet(), linear()})
        run_case(m, folder, seconds, peak);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
