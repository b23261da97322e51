#pragma once
// Reaches the encoder's private procedures for the unit tests.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jpeg/bmptojpg.h"
#include "platform/vb_error.h"

struct bmptojpg_test_access {
    using Counts = std::array<std::int32_t, 257>;
    struct Table {
        std::array<std::uint8_t, 16> counts;
        std::vector<std::uint8_t> symbols;
        std::array<std::int32_t, 256> code_mask;
        std::array<std::int32_t, 256> code;
    };

    static std::array<std::int16_t, 64> quant_values(const bmptojpg& e, int id) { return e.QuantTables[id].Values; }
    static void set_quant_value(bmptojpg& e, int id, int z, int value) {
        e.QuantTables[id].Values[z] = static_cast<std::int16_t>(value);
    }
    static void scale_quant_table(bmptojpg& e, int id) { e.ScaleQuantTable(id); }
    static int zigzag(const bmptojpg& e, int column, int row) { return e.ZigZag[column][row]; }
    static std::array<std::int16_t, 64> luminance_base(const bmptojpg& e) { return e.LuminanceBase; }
    static std::array<std::int16_t, 64> chrominance_base(const bmptojpg& e) { return e.ChrominanceBase; }
    static int component_count(const bmptojpg& e) { return e.ComponentCount; }
    static std::pair<int, int> factors(const bmptojpg& e, int c) { return {e.Components[c].H, e.Components[c].V}; }
    static std::pair<int, int> max_factors(const bmptojpg& e) { return {e.HMax, e.VMax}; }
    // The component's coefficients; after the fast sampling, a block it kept as
    // its DC coefficient alone is given as that and 63 zeros.
    static std::vector<std::int16_t> coefficients(const bmptojpg& e, int c) {
        const auto& a = e.Components[c].Coefficients;
        std::vector<std::int16_t> out(a.begin(), a.end());
        if (static_cast<std::size_t>(c) < e.Fast.size()) {
            const auto& f = e.Fast[static_cast<std::size_t>(c)];
            for (std::size_t b = 0; b < f.masks.size(); ++b)
                if (f.masks[b] <= 1) {
                    std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(64 * b), 64, std::int16_t{0});
                    out[64 * b] = f.dcs[b];
                }
        }
        return out;
    }

    // Block[column][row] in, transformed block out.
    static std::array<std::array<float, 8>, 8> dct(bmptojpg& e, const std::array<std::array<float, 8>, 8>& in) {
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y) e.Block[x][y] = in[x][y];
        e.ForwardDCT();
        std::array<std::array<float, 8>, 8> out{};
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y) out[x][y] = e.Block[x][y];
        return out;
    }
    // Quantizes Block[column][row] with the given multipliers into a 64-entry array.
    static std::vector<std::int16_t> quantize(bmptojpg& e, const std::array<std::array<float, 8>, 8>& block,
                                              const std::array<float, 64>& multipliers, std::int32_t& position,
                                              std::size_t size = 64) {
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y) e.Block[x][y] = block[x][y];
        bmptojpg::CoefficientArray out(size, 0);
        e.QuantizeBlock(out, position, multipliers);
        return std::vector<std::int16_t>(out.begin(), out.end());
    }
    static std::array<float, 64> multipliers(const bmptojpg& e, int id) { return e.QuantTables[id].Multipliers; }

    static Table optimize(Counts& counts, int largest_symbol) {
        bmptojpg::HuffmanTableRecord t;
        bmptojpg::OptimizeHuffmanTable(t, counts);
        bmptojpg::ExpandHuffmanTable(t, largest_symbol);
        return to_table(t);
    }
    static Table optimize_fast(Counts& counts, int symbol_limit = 256) {
        bmptojpg::HuffmanTableRecord t;
        bmptojpg::OptimizeHuffmanTableFast(t, counts, symbol_limit);
        return to_table(t);
    }
    static void set_multiplier(bmptojpg& e, int id, int z, float value) { e.QuantTables[id].Multipliers[z] = value; }
    static Table optimize_only(Counts& counts) {
        bmptojpg::HuffmanTableRecord t;
        bmptojpg::OptimizeHuffmanTable(t, counts);
        return to_table(t);
    }
    static Table expand(const std::array<std::uint8_t, 16>& counts, const std::vector<std::uint8_t>& symbols, int largest_symbol) {
        bmptojpg::HuffmanTableRecord t;
        t.Counts = counts;
        for (std::size_t i = 0; i < symbols.size(); ++i) t.Symbols[i] = symbols[i];
        bmptojpg::ExpandHuffmanTable(t, largest_symbol);
        return to_table(t);
    }

    // Expands table after table into one record, as an encoder does page after
    // page; a table that is refused gives no entry.
    struct TableLayout {
        std::array<std::uint8_t, 16> counts;
        std::vector<std::uint8_t> symbols;
    };
    static std::vector<std::optional<Table>> expand_in_turn(const std::vector<TableLayout>& layouts, int largest_symbol) {
        bmptojpg::HuffmanTableRecord t;
        std::vector<std::optional<Table>> out;
        for (const TableLayout& layout : layouts) {
            t.Counts = layout.counts;
            std::copy(layout.symbols.begin(), layout.symbols.end(), t.Symbols.begin());
            try {
                bmptojpg::ExpandHuffmanTable(t, largest_symbol);
                out.push_back(to_table(t));
            } catch (const VbError&) {
                out.push_back(std::nullopt);
            }
        }
        return out;
    }

    // Installs DC and AC tables 0 made from the counts, and an empty output buffer.
    static void install_tables(bmptojpg& e, Counts dc, Counts ac) {
        bmptojpg::OptimizeHuffmanTable(e.DCTables[0], dc);
        bmptojpg::ExpandHuffmanTable(e.DCTables[0], 11);
        bmptojpg::OptimizeHuffmanTable(e.ACTables[0], ac);
        bmptojpg::ExpandHuffmanTable(e.ACTables[0], 255);
        start_output(e);
    }
    static void start_output(bmptojpg& e) {
        e.FileData.assign(4, 0);
        e.FilePos = 0;
        e.ResetBitBuffer();
    }
    static void write_bits(bmptojpg& e, std::int32_t mask, std::int32_t value) { e.WriteBits(mask, value); }
    static void encode_block(bmptojpg& e, const std::vector<std::int16_t>& block, std::int32_t& predictor) {
        std::int32_t p = 0;
        e.EncodeBlock(bmptojpg::CoefficientArray(block.begin(), block.end()), p, predictor, 0, 0);
    }
    static void write_comment(bmptojpg& e, const std::string& text) { e.WriteComment(text); }
    static void write_huffman_table(bmptojpg& e, int id, bool ac, const std::array<std::uint8_t, 16>& counts,
                                    const std::vector<std::uint8_t>& symbols) {
        bmptojpg::HuffmanTableRecord& t = (ac ? e.ACTables : e.DCTables)[static_cast<std::size_t>(id)];
        t.Counts = counts;
        for (std::size_t i = 0; i < symbols.size() && i < t.Symbols.size(); ++i) t.Symbols[i] = symbols[i];
        e.WriteHuffmanTable(e.FilePos, id, ac);
    }
    static std::vector<std::uint8_t> finish_output(bmptojpg& e) {
        e.FlushBitBuffer();
        return std::vector<std::uint8_t>(e.FileData.begin(), e.FileData.begin() + e.FilePos);
    }
    static Table dc_table(const bmptojpg& e, int id) { return to_table(e.DCTables[id]); }
    static Table ac_table(const bmptojpg& e, int id) { return to_table(e.ACTables[id]); }

    // Scan groups of the default plan as (first, last) pairs.
    static std::vector<std::pair<int, int>> scan_groups(const bmptojpg& e) {
        bmptojpg::ScanPlan plan;
        for (int i = 0; i < e.ComponentCount; ++i) {
            plan.component.push_back(i);
            plan.dc_table.push_back(i == 0 ? 0 : 1);
            plan.ac_table.push_back(i == 0 ? 0 : 1);
        }
        std::vector<std::pair<int, int>> out;
        for (auto g : e.ScanGroups(plan, 0, e.ComponentCount - 1)) out.push_back({g.first, g.last});
        return out;
    }
    // Block starts in interleaved MCU order for component c; -1 marks a dummy block.
    static std::vector<std::int64_t> interleaved_order(const bmptojpg& e, int c) {
        std::vector<std::int64_t> out;
        const auto& comp = e.Components[c];
        e.WalkInterleaved(comp.Coefficients.size(), comp.H, comp.V, [&](std::int64_t start) { out.push_back(start); });
        return out;
    }
    // The estimate of entropy-coded bytes of the default plan.
    static std::int32_t optimize_tables(bmptojpg& e) {
        bmptojpg::ScanPlan plan;
        for (int i = 0; i < e.ComponentCount; ++i) {
            plan.component.push_back(i);
            plan.dc_table.push_back(i == 0 ? 0 : 1);
            plan.ac_table.push_back(i == 0 ? 0 : 1);
        }
        // As the file is written: from what the fast sampling left, when it sampled.
        return e.Fast.empty() ? e.OptimizeTables(plan, 0, e.ComponentCount - 1)
                              : e.OptimizeTablesFast(plan, 0, e.ComponentCount - 1);
    }

private:
    static Table to_table(const bmptojpg::HuffmanTableRecord& t) {
        Table out;
        out.counts = t.Counts;
        int total = 0;
        for (auto c : t.Counts) total += c;
        out.symbols.assign(t.Symbols.begin(), t.Symbols.begin() + total);
        out.code_mask = t.CodeMask;
        out.code = t.Code;
        return out;
    }
};
