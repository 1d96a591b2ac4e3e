#pragma once

// A deliberately plain WaveNet evaluation for the tests: reads the flat weight list in file order
// and computes every signal over the whole input at once, sample by sample, with silence before
// the first sample. Shares no code with the model.

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "test_support.h"

namespace wavenet_reference
{

struct ArraySpec
{
    int input_size = 1, condition_size = 1, head_size = 1, channels = 2, kernel_size = 2;
    std::vector<int> dilations{1};
    std::string activation = "Tanh";
    bool gated = false, head_bias = false;
};

inline nlohmann::json config(const std::vector<ArraySpec>& arrays, float head_scale = 1.0f)
{
    nlohmann::json layers = nlohmann::json::array();
    for (const auto& a : arrays)
        layers.push_back({{"input_size", a.input_size},
                          {"condition_size", a.condition_size},
                          {"head_size", a.head_size},
                          {"channels", a.channels},
                          {"kernel_size", a.kernel_size},
                          {"dilations", a.dilations},
                          {"activation", a.activation},
                          {"gated", a.gated},
                          {"head_bias", a.head_bias}});
    return {{"layers", layers}, {"head", nullptr}, {"head_scale", head_scale}};
}

inline size_t weight_count(const std::vector<ArraySpec>& arrays)
{
    size_t count = 1;
    for (const auto& a : arrays)
    {
        const size_t C = a.channels, G = a.gated ? 2 * C : C;
        count += C * a.input_size + a.dilations.size() * (G * C * a.kernel_size + G + G * a.condition_size + C * C + C)
                 + a.head_size * C + (a.head_bias ? a.head_size : 0);
    }
    return count;
}

inline std::vector<float> random_weights(size_t count, unsigned seed, float scale = 0.5f)
{
    return testing_support::uniform_values(count, seed, -scale, scale);
}

inline int prewarm_samples(const std::vector<ArraySpec>& arrays)
{
    int total = 1;
    for (const auto& a : arrays)
        for (int d : a.dilations)
            total += d * (a.kernel_size - 1);
    return total;
}

inline float activate(const std::string& name, float x)
{
    if (name == "Tanh")
        return std::tanh(x);
    if (name == "Sigmoid")
        return 1.0f / (std::exp(-x) + 1.0f);
    if (name == "ReLU")
        return x > 0.0f ? x : 0.0f;
    if (name == "Hardtanh")
        return x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : x);
    throw std::runtime_error("reference: activation not supported: " + name);
}

// signal[t][channel]
using Signal = std::vector<std::vector<float>>;

inline std::vector<float> run(const std::vector<ArraySpec>& arrays, const std::vector<float>& weights,
                              const std::vector<float>& input)
{
    const size_t T = input.size();
    size_t next = 0;
    auto take = [&]() { return weights.at(next++); };

    Signal array_input(T, std::vector<float>(1));
    for (size_t t = 0; t < T; t++)
        array_input[t][0] = input[t];
    Signal head; // head carried from array to array (empty before the first)

    for (const auto& a : arrays)
    {
        const int C = a.channels, G = a.gated ? 2 * C : C, K = a.kernel_size;
        // input projection
        std::vector<std::vector<float>> in_w(C, std::vector<float>(a.input_size));
        for (int r = 0; r < C; r++)
            for (int c = 0; c < a.input_size; c++)
                in_w[r][c] = take();
        Signal x(T, std::vector<float>(C, 0.0f));
        for (size_t t = 0; t < T; t++)
            for (int r = 0; r < C; r++)
                for (int c = 0; c < a.input_size; c++)
                    x[t][r] += in_w[r][c] * array_input[t][c];
        if (head.empty())
            head.assign(T, std::vector<float>(C, 0.0f));

        for (int d : a.dilations)
        {
            // tap[k][r][c]
            std::vector<std::vector<std::vector<float>>> tap(K, std::vector<std::vector<float>>(G, std::vector<float>(C)));
            for (int r = 0; r < G; r++)
                for (int c = 0; c < C; c++)
                    for (int k = 0; k < K; k++)
                        tap[k][r][c] = take();
            std::vector<float> bias(G), cond(G), out_b(C);
            for (auto& b : bias)
                b = take();
            for (auto& m : cond)
                m = take(); // condition_size 1
            std::vector<std::vector<float>> out_w(C, std::vector<float>(C));
            for (int r = 0; r < C; r++)
                for (int c = 0; c < C; c++)
                    out_w[r][c] = take();
            for (auto& b : out_b)
                b = take();

            Signal next_x(T, std::vector<float>(C));
            for (size_t t = 0; t < T; t++)
            {
                std::vector<float> z(G);
                for (int r = 0; r < G; r++)
                {
                    float sum = bias[r] + cond[r] * input[t];
                    for (int k = 0; k < K; k++)
                    {
                        const long back = static_cast<long>(d) * (K - 1 - k);
                        if (static_cast<long>(t) - back >= 0)
                            for (int c = 0; c < C; c++)
                                sum += tap[k][r][c] * x[t - back][c];
                    }
                    z[r] = sum;
                }
                std::vector<float> act(C);
                for (int r = 0; r < C; r++)
                    act[r] = a.gated ? activate(a.activation, z[r]) * activate("Sigmoid", z[C + r])
                                     : activate(a.activation, z[r]);
                for (int r = 0; r < C; r++)
                {
                    head[t][r] += act[r];
                    float sum = out_b[r] + x[t][r];
                    for (int c = 0; c < C; c++)
                        sum += out_w[r][c] * act[c];
                    next_x[t][r] = sum;
                }
            }
            x = std::move(next_x);
        }

        std::vector<std::vector<float>> head_w(a.head_size, std::vector<float>(C));
        for (auto& row : head_w)
            for (auto& v : row)
                v = take();
        std::vector<float> head_b(a.head_size, 0.0f);
        if (a.head_bias)
            for (auto& b : head_b)
                b = take();
        Signal projected(T, std::vector<float>(a.head_size));
        for (size_t t = 0; t < T; t++)
            for (int r = 0; r < a.head_size; r++)
            {
                float sum = head_b[r];
                for (int c = 0; c < C; c++)
                    sum += head_w[r][c] * head[t][c];
                projected[t][r] = sum;
            }
        head = std::move(projected);
        array_input = std::move(x);
    }
    const float scale = take();
    if (next != weights.size())
        throw std::runtime_error("reference: weights left over");
    std::vector<float> out(T);
    for (size_t t = 0; t < T; t++)
        out[t] = scale * head[t][0];
    return out;
}

} // namespace wavenet_reference
