// Quantization tables from the quality, the forward DCT and the quantization of
// one 8 x 8 block into zig-zag ordered coefficients.
#include <mutex>

#include "bmptojpg.h"
#include "detail.h"

using bmptojpg_detail::round_half_even;

void bmptojpg::FillQuantTables(int q) {
    // The two tables depend on the quality alone: worked out by the first encoder
    // that asks for a quality, and copied by every later one (an encoder per page).
    static std::array<std::once_flag, 100> once;
    static std::array<std::array<QuantTableRecord, 2>, 100> made;
    if (q >= 1 && q <= 100) {
        const std::size_t at = static_cast<std::size_t>(q - 1);
        std::call_once(once[at], [&] {
            ComputeQuantTables(q);
            made[at] = {QuantTables[0], QuantTables[1]};
        });
        QuantTables[0] = made[at][0];
        QuantTables[1] = made[at][1];
        return;
    }
    ComputeQuantTables(q);
}

void bmptojpg::ComputeQuantTables(int q) {
    const int s = q >= 50 ? 200 - 2 * q : static_cast<int>(round_half_even(5000.0 / q));
    auto scale = [s](std::int16_t base) {
        const int t = base * s + 50;
        double value = round_half_even(static_cast<double>(t) / 100.0);
        if (value < 1.0) value = 1.0;
        if (value > 255.0) value = 255.0;
        return static_cast<std::int16_t>(value);
    };
    for (int i = 0; i < 64; ++i) QuantTables[0].Values[i] = scale(LuminanceBase[i]);
    for (int i = 0; i < 64; ++i) QuantTables[1].Values[i] = scale(ChrominanceBase[i]);
    ScaleQuantTable(0);
    ScaleQuantTable(1);
}

void bmptojpg::ScaleQuantTable(int n) {
    bmptojpg_detail::check_table_id(n);
    QuantTableRecord& table = QuantTables[n];
    const int largest = Precision == 12 ? 65535 : 255;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            const int z = ZigZag[i][j];
            const int value = table.Values[z];
            if (value < 1 || value > largest) throw VbError(1, "Bad Quantization Table");
            table.Multipliers[z] = static_cast<float>(ScaleFactors[i] * ScaleFactors[j] / value);
        }
}

void bmptojpg::ForwardDCT() {
    // Arai, Agui and Nakajima: every step is worked out in double precision and
    // stored once as a float, so the results do not depend on the compiler.
    float w0, w1, w2, w3, w4, w5, w6, w7, w8;
    auto pass = [&](float& d0, float& d1, float& d2, float& d3, float& d4, float& d5, float& d6, float& d7) {
        using D = double;
        w0 = static_cast<float>(D(d0) + D(d7));
        w1 = static_cast<float>(D(d0) - D(d7));
        w2 = static_cast<float>(D(d1) + D(d6));
        w3 = static_cast<float>(D(d1) - D(d6));
        w4 = static_cast<float>(D(d2) + D(d5));
        w5 = static_cast<float>(D(d2) - D(d5));
        w6 = static_cast<float>(D(d3) + D(d4));
        w7 = static_cast<float>(D(d3) - D(d4));
        w7 = static_cast<float>(D(w5) + D(w7));
        w8 = static_cast<float>(D(w0) - D(w6));
        w6 = static_cast<float>(D(w0) + D(w6));
        w0 = static_cast<float>(D(w4) + D(w2));
        w2 = static_cast<float>(((D(w2) - D(w4)) + D(w8)) * 0.707106781186548);
        w4 = static_cast<float>(D(w3) + D(w1));
        w3 = static_cast<float>((D(w5) + D(w3)) * 0.707106781186548);
        w5 = static_cast<float>((D(w4) - D(w7)) * 0.382683432365091);
        w7 = static_cast<float>(D(w7) * 0.541196100146196 - D(w5));
        w4 = static_cast<float>(D(w4) * 1.30656296487638 - D(w5));
        w5 = static_cast<float>(D(w3) + D(w1));
        w1 = static_cast<float>(D(w1) - D(w3));
        d0 = static_cast<float>(D(w6) + D(w0));
        d4 = static_cast<float>(D(w6) - D(w0));
        d1 = static_cast<float>(D(w5) + D(w4));
        d7 = static_cast<float>(D(w5) - D(w4));
        d2 = static_cast<float>(D(w8) + D(w2));
        d6 = static_cast<float>(D(w8) - D(w2));
        d5 = static_cast<float>(D(w7) + D(w1));
        d3 = static_cast<float>(D(w1) - D(w7));
    };
    for (int x = 0; x < 8; ++x) {
        float* c = Block[x];
        pass(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    }
    for (int y = 0; y < 8; ++y)
        pass(Block[0][y], Block[1][y], Block[2][y], Block[3][y], Block[4][y], Block[5][y], Block[6][y], Block[7][y]);
}

void bmptojpg::QuantizeBlock(CoefficientArray& coefficients, std::int32_t& p,
                             const std::array<float, 64>& multipliers) {
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            const int z = ZigZag[j][i];
            const double r = round_half_even(static_cast<double>(multipliers[z]) * static_cast<double>(Block[j][i]));
            if (r < -32768.0 || r > 32767.0) throw VbError::overflow();
            const std::int64_t index = std::int64_t{p} + z;
            bmptojpg_detail::check_index(index, coefficients.size());
            coefficients[static_cast<std::size_t>(index)] = static_cast<std::int16_t>(r);
        }
    p = bmptojpg_detail::add_i32(p, 64);
}
