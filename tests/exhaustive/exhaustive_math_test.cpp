// Every one of the 2^32 float arguments through each vectorised port of tanhf, expf and the
// sigmoid 1 / (expf(-x) + 1) that this CPU can run, against the C library in this process, bit for
// bit (NaN payloads and signed zeros included). Also checks that the dispatcher uses the ports
// where it should. Threads over all cores.
// The processor runs its blocks with denormals flushed to zero; "ftz" runs the whole comparison in
// that mode (flush-to-zero and denormals-are-zero), where both sides must still agree.
//   kep_exhaustive_math [plain|fused|any] [ftz]   the expf variant the library is expected to run
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#include <sched.h>
#endif

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "core/vector_math.h"

namespace vm = kep::vector_math;

namespace
{

const char* variant_name(vm::ExpVariant v)
{
    return v == vm::ExpVariant::plain ? "plain" : v == vm::ExpVariant::fused ? "fused (FMA)" : "unknown";
}

struct Check
{
    std::string name;
    vm::Kernel kernel;
    int reference; // 0 tanh, 1 exp, 2 sigmoid
    std::atomic<uint64_t> mismatches{0};
    std::atomic<uint64_t> first{UINT64_MAX};
};

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string expected = argc > 1 ? argv[1] : "any";
    const bool flush_denormals = argc > 2 && std::string(argv[2]) == "ftz";
    // The floating-point mode belongs to each thread: every thread that computes sets it.
    auto set_mode = [flush_denormals] {
#if defined(__x86_64__)
        if (flush_denormals)
            _mm_setcsr(_mm_getcsr() | 0x8040); // flush-to-zero and denormals-are-zero
#endif
    };
    set_mode();
    if (flush_denormals)
        std::printf("denormals flushed to zero\n");
    const vm::ExpVariant variant = vm::library_exp_variant();
    bool failed = false;
    std::printf("library expf variant in this process: %s\n", variant_name(variant));
    if ((expected == "plain" && variant != vm::ExpVariant::plain)
        || (expected == "fused" && variant != vm::ExpVariant::fused))
    {
        std::printf("FAIL: expected the %s variant\n", expected.c_str());
        failed = true;
    }

    const vm::Kernels& active = vm::active();
    std::printf("dispatcher: tanh %s, exp and sigmoid %s\n", active.tanh_name, active.exp_name);
#if defined(__GLIBC__) && defined(__x86_64__)
    // On the library version the ports were proven against, they must be in use.
    if (std::strcmp(gnu_get_libc_version(), "2.36") == 0
        && (active.tanh == vm::library().tanh || (variant != vm::ExpVariant::unknown && active.exp == vm::library().exp)))
    {
        std::printf("FAIL: the dispatcher fell back to the library on the verified version\n");
        failed = true;
    }
#endif

    std::vector<std::unique_ptr<Check>> checks;
    auto add = [&checks](std::string name, vm::Kernel kernel, int reference) {
        for (const auto& c : checks)
            if (c->kernel == kernel)
                return;
        auto check = std::make_unique<Check>();
        check->name = std::move(name);
        check->kernel = kernel;
        check->reference = reference;
        checks.push_back(std::move(check));
    };
    // The library has a single tanhf for every CPU: the run that masks CPU features from it only
    // needs to prove the expf variant it then picks.
    const bool check_tanh = expected != "plain";
    for (const vm::Port& port : vm::ports())
    {
        if (check_tanh)
            add(std::string("tanh ") + port.kernels.tanh_name, port.kernels.tanh, 0);
        if (port.exp_variant == variant)
        {
            add(std::string("exp ") + port.kernels.exp_name, port.kernels.exp, 1);
            add(std::string("sigmoid ") + port.kernels.exp_name, port.kernels.sigmoid, 2);
        }
    }
    // What the dispatcher uses (the same as one of the ports above, unless it is the library).
    if (check_tanh)
        add("tanh active", active.tanh, 0);
    add("exp active", active.exp, 1);
    add("sigmoid active", active.sigmoid, 2);

    constexpr uint64_t chunk = 1 << 16;
    constexpr uint64_t chunks = (uint64_t{1} << 32) / chunk;
    std::atomic<uint64_t> next{0};
    const auto start = std::chrono::steady_clock::now();
    auto work = [&] {
        set_mode();
        std::vector<float> input(chunk), reference(chunk), output(chunk), spoiled(chunk);
        const float nan_argument = std::numeric_limits<float>::quiet_NaN();
        // Odd lengths too, so that the partial last group of each kernel is covered.
        const long lengths[] = {static_cast<long>(chunk) - 3, 3};
        for (uint64_t c = next++; c < chunks; c = next++)
        {
            for (uint64_t i = 0; i < chunk; i++)
            {
                const uint32_t b = static_cast<uint32_t>(c * chunk + i);
                std::memcpy(&input[i], &b, sizeof b);
            }
            for (int r = 0; r < 3; r++)
            {
                bool reference_ready = false;
                for (auto& check : checks)
                {
                    if (check->reference != r)
                        continue;
                    if (!reference_ready)
                    {
                        for (uint64_t i = 0; i < chunk; i++)
                        {
                            const float x = input[i];
                            reference[i] = r == 0 ? tanhf(x) : r == 1 ? expf(x) : 1.0f / (expf(-x) + 1.0f);
                        }
                        reference_ready = true;
                    }
                    // The tanh kernels take a shorter way for groups of ordinary arguments; a
                    // second pass with a NaN in every fourth place makes every group take the full
                    // way (the NaN's own result is checked too).
                    for (int pass = 0; pass < (r == 0 ? 2 : 1); pass++)
                    {
                        output = input;
                        std::vector<float>* expected = &reference;
                        if (pass == 1)
                        {
                            spoiled = reference;
                            for (uint64_t i = 3; i < chunk; i += 4)
                            {
                                output[i] = nan_argument;
                                spoiled[i] = tanhf(nan_argument);
                            }
                            expected = &spoiled;
                        }
                        check->kernel(output.data(), lengths[0]);
                        check->kernel(output.data() + lengths[0], lengths[1]);
                        if (std::memcmp(output.data(), expected->data(), chunk * sizeof(float)) == 0)
                            continue;
                        for (uint64_t i = 0; i < chunk; i++)
                            if (std::memcmp(&output[i], &(*expected)[i], sizeof(float)) != 0)
                            {
                                check->mismatches++;
                                const uint64_t arg = c * chunk + i;
                                uint64_t seen = check->first.load();
                                while (arg < seen && !check->first.compare_exchange_weak(seen, arg))
                                {
                                }
                            }
                    }
                }
            }
        }
    };
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
#if defined(__GLIBC__)
    // No more threads than cores this process may run on (e.g. under taskset).
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        threads = std::min(threads, static_cast<unsigned>(CPU_COUNT(&allowed)));
#endif
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; t++)
        pool.emplace_back(work);
    for (auto& t : pool)
        t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    for (const auto& check : checks)
    {
        const uint64_t n = check->mismatches.load();
        if (n == 0)
        {
            std::printf("%-22s all 2^32 arguments identical\n", check->name.c_str());
            continue;
        }
        failed = true;
        const uint32_t b = static_cast<uint32_t>(check->first.load());
        float x, got, want;
        std::memcpy(&x, &b, sizeof x);
        got = x;
        check->kernel(&got, 1);
        want = check->reference == 0 ? tanhf(x) : check->reference == 1 ? expf(x) : 1.0f / (expf(-x) + 1.0f);
        uint32_t gb, wb;
        std::memcpy(&gb, &got, 4);
        std::memcpy(&wb, &want, 4);
        std::printf("FAIL: %-16s %llu arguments differ; first 0x%08x (%a): 0x%08x, library 0x%08x\n",
                    check->name.c_str(), static_cast<unsigned long long>(n), b, static_cast<double>(x), gb, wb);
    }
    std::printf("%u threads, %.1f s\n", threads, seconds);
    return failed ? 1 : 0;
}
