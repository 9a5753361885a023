#pragma once

// The vector kernels of the multilayer perceptron: a layer's net inputs and logistic outputs,
// the errors it passes down, and its weight update. A layer of n neurons with i inputs keeps its
// weights input by input, each row holding the n weights of that input padded with zeros to a
// stride of whole vectors of kLanes doubles (neuron k of input g at g * stride + k); the padding
// lanes take part in every operation and stay 0. Each sum runs over the inputs (or the upper
// neurons) in order, so the results are the same whatever vector width the compiler uses. The
// kernels are always inlined into the perceptron's training and forward pass.

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace velkar::patternrecognition::perceptronkernels {

// Doubles per vector of the kernels; a layer's neurons are padded to whole vectors.
constexpr int kLanes = 4;

// The kernels are written with vectors of four doubles, so that the compiler's output for
// narrower and wider processors does the same operation on every lane. No function takes or
// gives a vector by value: that would make its calling convention depend on the vector width.
typedef double Vector __attribute__((vector_size(kLanes * sizeof(double))));

[[gnu::always_inline]] inline void Read(Vector& to, const double* from) {
    __builtin_memcpy(&to, from, sizeof to);
}

[[gnu::always_inline]] inline void Write(double* to, const Vector& from) {
    __builtin_memcpy(to, &from, sizeof from);
}

// Calls kernel.operator()<Count>(k) for the neurons of a layer of stride lanes in blocks of
// Count <= 4 vectors, the first neuron of each block being k, so that a block's sums stay in
// registers.
template <typename Kernel>
[[gnu::always_inline]] inline void InBlocks(int stride, Kernel&& kernel) {
    for (int k = 0; k < stride; k += 4 * kLanes) {
        switch (std::min(4, (stride - k) / kLanes)) {
            case 4:
                kernel.template operator()<4>(k);
                break;
            case 3:
                kernel.template operator()<3>(k);
                break;
            case 2:
                kernel.template operator()<2>(k);
                break;
            default:
                kernel.template operator()<1>(k);
                break;
        }
    }
}

// The net inputs of Count vectors of neurons, each summed over the inputs in order.
template <int Count>
[[gnu::always_inline]] inline void NetInputs(const double* __restrict below,
                                             const double* __restrict weights, std::size_t stride,
                                             int inputs, double* __restrict nets) {
    Vector sums[Count] = {};
    Vector weight;
    for (int g = 0; g < inputs; ++g) {
        const Vector value{below[g], below[g], below[g], below[g]};
        const double* row = weights + static_cast<std::size_t>(g) * stride;
        for (int v = 0; v < Count; ++v) {
            Read(weight, row + v * kLanes);
            sums[v] += value * weight;
        }
    }
    for (int v = 0; v < Count; ++v) {
        Write(nets + v * kLanes, sums[v]);
    }
}

// The net inputs of a layer's neurons, summed up to four vectors of neurons at a time.
[[gnu::always_inline]] inline void LayerNets(const double* __restrict below,
                                             const double* __restrict weights, int stride,
                                             int inputs, double* __restrict nets) {
    const std::size_t rowStride = static_cast<std::size_t>(stride);
    InBlocks(stride, [&]<int Count>(int k) {
        NetInputs<Count>(below, weights + k, rowStride, inputs, nets + k);
    });
}

// The logistic outputs 1 / (1 + e^-net) of a layer's neurons.
[[gnu::always_inline]] inline void LayerOutputs(const double* __restrict below,
                                                const double* __restrict weights, int neurons,
                                                int stride, int inputs, double* __restrict nets,
                                                double* __restrict out) {
    LayerNets(below, weights, stride, inputs, nets);
    // The exponentials first, so that the divisions run together.
    for (int k = 0; k < neurons; ++k) {
        out[k] = std::exp(-nets[k]);
    }
    for (int k = 0; k < neurons; ++k) {
        out[k] = 1.0 / (1.0 + out[k]);
    }
}

// lower[g] = the sum over the upper neurons m, in order, of weight[m][g] * upper[m], for the
// inputs g of the upper layer but its bias. The padding lanes add weight 0 times error 0.
[[gnu::always_inline]] inline void PropagateErrors(const double* __restrict weights, int stride,
                                                   const double* __restrict upper, int inputs,
                                                   double* __restrict lower) {
    for (int g = 0; g < inputs; ++g) {
        const double* row =
            weights + static_cast<std::size_t>(g) * static_cast<std::size_t>(stride);
        double sum = 0.0;
        Vector weight;
        Vector error;
        for (int m = 0; m < stride; m += kLanes) {
            Read(weight, row + m);
            Read(error, upper + m);
            const Vector products = weight * error;
            for (int lane = 0; lane < kLanes; ++lane) {
                sum += products[lane];
            }
        }
        lower[g] = sum;
    }
}

// The weights of Count vectors of neurons move by their neuron's scale times their input plus
// momentum times their last move. The padding lanes have scale 0 and stay 0.
template <int Count>
[[gnu::always_inline]] inline void UpdateWeights(const double* __restrict scales, double momentum,
                                                 const double* __restrict input, int inputs,
                                                 std::size_t stride, double* __restrict weights,
                                                 double* __restrict changes) {
    Vector scale[Count];
    for (int v = 0; v < Count; ++v) {
        Read(scale[v], scales + v * kLanes);
    }
    Vector weight;
    Vector change;
    for (int g = 0; g < inputs; ++g) {
        const Vector value{input[g], input[g], input[g], input[g]};
        const std::size_t row = static_cast<std::size_t>(g) * stride;
        for (int v = 0; v < Count; ++v) {
            double* weightAt = weights + row + v * kLanes;
            double* changeAt = changes + row + v * kLanes;
            Read(weight, weightAt);
            Read(change, changeAt);
            const Vector move = scale[v] * value + momentum * change;
            Write(weightAt, weight + move);
            Write(changeAt, move);
        }
    }
}

// A layer's update, in blocks of up to four vectors of neurons.
[[gnu::always_inline]] inline void LayerUpdate(const double* __restrict scales, double momentum,
                                               const double* __restrict input, int inputs,
                                               int stride, double* __restrict weights,
                                               double* __restrict changes) {
    const std::size_t rowStride = static_cast<std::size_t>(stride);
    InBlocks(stride, [&]<int Count>(int k) {
        UpdateWeights<Count>(scales + k, momentum, input, inputs, rowStride, weights + k,
                             changes + k);
    });
}

}  // namespace velkar::patternrecognition::perceptronkernels
