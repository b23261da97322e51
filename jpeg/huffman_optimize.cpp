// Building each picture's own Huffman tables: counting the symbols that the scans
// will code, the length-limited optimal code lengths, and the codes themselves.
#include "bmptojpg.h"
#include "detail.h"

#include <algorithm>
#include <bit>

using bmptojpg_detail::check_index;
using bmptojpg_detail::magnitude_category;

namespace {

template <typename Array>
void require_picture(const Array& coefficients) {
    if (coefficients.empty()) throw VbError::subscript_out_of_range();
}

VbError bad_huffman_table() { return VbError(1, "Bad Huffman Table"); }

// From the number of symbols of each optimal code length (bits[1] .. bits[largest];
// bits[0] is ignored) to the table's counts per length, limited to 16 bits, with
// the reserved all-ones code point taken off the longest length in use. bits
// must hold at least largest + 1 entries and is changed.
template <typename Table>
void limit_lengths(std::int32_t* bits, int largest, Table& table) {
    bits[0] = 0;  // the symbols without a code
    for (int i = largest; i >= 17; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0) --j;
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
        }
    }
    int i = largest > 16 ? 16 : largest;
    while (i > 0 && bits[i] == 0) --i;
    if (i > 0) --bits[i];
    for (int len = 1; len <= 16; ++len)
        table.Counts[static_cast<std::size_t>(len - 1)] = static_cast<std::uint8_t>(len <= largest ? bits[len] : 0);
}

// The same from the code size of each symbol (zero for a symbol without a code).
// Returns the longest length before the limit.
template <typename Table>
int fill_counts(const std::int32_t* code_size, int symbols, Table& table) {
    std::array<std::int32_t, 257> bits{};
    int largest = 0;
    for (int v = 0; v < symbols; ++v) {
        const int size = code_size[v];
        ++bits[static_cast<std::size_t>(size)];
        if (size > largest) largest = size;
    }
    limit_lengths(bits.data(), largest, table);
    return largest;
}

}  // namespace

void bmptojpg::WalkInterleaved(std::size_t coefficient_count, int H, int V,
                               const std::function<void(std::int64_t)>& visit) const {
    const std::int64_t mcus_across = (std::int64_t{Width} + 8 * HMax - 1) / (8 * HMax);
    const std::int64_t mcu_rows = (std::int64_t{Height} + 8 * VMax - 1) / (8 * VMax);
    const std::int64_t w = static_cast<std::int64_t>(-std::floor(-(static_cast<double>(Width) * H) / HMax));
    const std::int64_t blocks_across = (7 + w) / 8;
    std::vector<std::int64_t> row_start(static_cast<std::size_t>(V));
    for (int k = 0; k < V; ++k) row_start[static_cast<std::size_t>(k)] = k * blocks_across * 64;
    const std::int64_t row_skip = (V - 1) * blocks_across * 64;
    const std::int64_t last_column_blocks = blocks_across % H == 0 ? H : blocks_across % H;
    const std::int64_t last_index = static_cast<std::int64_t>(coefficient_count) - 1;

    for (std::int64_t my = 0; my < mcu_rows; ++my) {
        for (std::int64_t mx = 0; mx < mcus_across; ++mx)
            for (int k = 1; k <= V; ++k)
                for (int l = 1; l <= H; ++l) {
                    std::int64_t& start = row_start[static_cast<std::size_t>(k - 1)];
                    const bool dummy = (mx == mcus_across - 1 && l > last_column_blocks) ||
                                       (my == mcu_rows - 1 && start > last_index);
                    if (dummy) {
                        visit(-1);
                    } else {
                        check_index(start + 63, coefficient_count);
                        visit(start);
                        start += 64;
                    }
                }
        if (my != mcu_rows - 1)
            for (std::int64_t& start : row_start) start += row_skip;
    }
}

void bmptojpg::CountDCSymbols(const CoefficientArray& coefficients, SymbolCounts& counts) {
    require_picture(coefficients);
    std::int32_t predictor = 0;
    for (std::size_t b = 0; b + 64 <= coefficients.size(); b += 64) {
        ++counts[static_cast<std::size_t>(magnitude_category(std::int64_t{coefficients[b]} - predictor))];
        predictor = coefficients[b];
    }
}

void bmptojpg::CountDCSymbolsInterleaved(const CoefficientArray& coefficients, SymbolCounts& counts, int H,
                                         int V) const {
    require_picture(coefficients);
    std::int32_t predictor = 0;
    WalkInterleaved(coefficients.size(), H, V, [&](std::int64_t start) {
        if (start < 0) {
            ++counts[0];
            return;
        }
        const std::int16_t dc = coefficients[static_cast<std::size_t>(start)];
        ++counts[static_cast<std::size_t>(magnitude_category(std::int64_t{dc} - predictor))];
        predictor = dc;
    });
}

// A dummy block codes an end-of-block: count it, so that the AC table always has
// a code for it and every scan we write can be decoded.
void bmptojpg::CountDummyBlockEOBs(const CoefficientArray& coefficients, SymbolCounts& counts, int H,
                                   int V) const {
    require_picture(coefficients);
    WalkInterleaved(coefficients.size(), H, V, [&](std::int64_t start) {
        if (start < 0) ++counts[0];
    });
}

void bmptojpg::CountACSymbols(const CoefficientArray& coefficients, SymbolCounts& counts) {
    require_picture(coefficients);
    for (std::size_t b = 0; b + 64 <= coefficients.size(); b += 64) {
        int run = 0;
        for (std::size_t i = b + 1; i <= b + 63; ++i) {
            const std::int16_t v = coefficients[i];
            if (v == 0) {
                ++run;
                continue;
            }
            while (run > 15) {
                ++counts[0xF0];
                run -= 16;
            }
            const int symbol = run * 16 + magnitude_category(v);
            check_index(symbol, 256);
            ++counts[static_cast<std::size_t>(symbol)];
            run = 0;
        }
        if (run > 0) ++counts[0];
    }
}

void bmptojpg::OptimizeHuffmanTable(HuffmanTableRecord& table, SymbolCounts& counts) {
    std::array<std::int32_t, 257> code_size{};
    std::array<std::int32_t, 257> others;
    others.fill(-1);

    // The reserved code point keeps any code from being all 1 bits.
    counts[256] = 1;
    int c1 = -1;
    for (;;) {
        c1 = -1;
        int c2 = -1;
        std::int64_t c1_count = 2147483647, c2_count = 2147483647;
        // Among equal counts the higher symbol value is taken.
        for (int v = 0; v <= 256; ++v) {
            const std::int64_t cv = counts[static_cast<std::size_t>(v)];
            if (cv == 0 || cv > c2_count) continue;
            if (cv <= c1_count) {
                c2 = c1;
                c2_count = c1_count;
                c1 = v;
                c1_count = cv;
            } else {
                c2 = v;
                c2_count = cv;
            }
        }
        if (c2 == -1) break;
        counts[static_cast<std::size_t>(c1)] =
            bmptojpg_detail::add_i32(counts[static_cast<std::size_t>(c1)], counts[static_cast<std::size_t>(c2)]);
        counts[static_cast<std::size_t>(c2)] = 0;
        int s = c1;
        ++code_size[static_cast<std::size_t>(s)];
        while (others[static_cast<std::size_t>(s)] != -1) {
            s = others[static_cast<std::size_t>(s)];
            ++code_size[static_cast<std::size_t>(s)];
        }
        others[static_cast<std::size_t>(s)] = c2;
        s = c2;
        ++code_size[static_cast<std::size_t>(s)];
        while (others[static_cast<std::size_t>(s)] != -1) {
            s = others[static_cast<std::size_t>(s)];
            ++code_size[static_cast<std::size_t>(s)];
        }
    }
    if (c1 >= 0) counts[static_cast<std::size_t>(c1)] = 0;

    const int largest = fill_counts(code_size.data(), 257, table);

    std::size_t k = 0;
    for (int size = 1; size <= largest; ++size)
        for (int v = 0; v <= 255; ++v)
            if (code_size[static_cast<std::size_t>(v)] == size) table.Symbols[k++] = static_cast<std::uint8_t>(v);
}

void bmptojpg::OptimizeHuffmanTableFast(HuffmanTableRecord& table, SymbolCounts& counts, int symbol_limit) {
    // Everything works on the symbols that occur, in rising order: a small page
    // codes a few dozen of the 257, and its tables are built for every page.
    std::array<int, 257> used;
    int n = 0;
    int v = 0;
    for (; v + 8 <= symbol_limit; v += 8) {
        // Most runs of eight symbols are absent from an AC table of a page.
        std::int32_t any = 0;
        for (int i = 0; i < 8; ++i) any |= counts[static_cast<std::size_t>(v + i)];
        if (any == 0) continue;
        for (int i = 0; i < 8; ++i) {
            // Without a branch: whether a symbol occurs is close to random.
            used[static_cast<std::size_t>(n)] = v + i;
            n += counts[static_cast<std::size_t>(v + i)] != 0;
        }
    }
    for (; v < symbol_limit; ++v) {
        used[static_cast<std::size_t>(n)] = v;
        n += counts[static_cast<std::size_t>(v)] != 0;
    }
    // The counts are used up, as the plain procedure leaves them.
    auto use_up = [&] {
        for (int k = 0; k < n; ++k) counts[static_cast<std::size_t>(used[static_cast<std::size_t>(k)])] = 0;
        counts[256] = 0;
    };
    if (n <= 2) {
        // One or two symbols (the colour tables of a grey page): with the reserved
        // code point, whose count of 1 is merged first, a symbol takes a code of
        // 1 bit; a second one is the other 2-bit code. The sums are those of the
        // merges, which must fit as they do there.
        if (n == 0) {
            table.Counts.fill(0);
            use_up();
            return;
        }
        const int a = used[0];
        const std::int64_t ca = counts[static_cast<std::size_t>(a)];
        if (n == 1) {
            bmptojpg_detail::add_i32(ca, 1);
            table.Counts.fill(0);
            table.Counts[0] = 1;
            table.Symbols[0] = static_cast<std::uint8_t>(a);
            use_up();
            return;
        }
        const int b = used[1];
        const std::int64_t cb = counts[static_cast<std::size_t>(b)];
        bmptojpg_detail::add_i32(ca + cb, 1);
        // The smaller count is merged with the reserved point; among equal counts
        // the higher symbol, so the lower one keeps the shorter code.
        const bool a_first = ca >= cb;
        table.Counts.fill(0);
        table.Counts[0] = 1;
        table.Counts[1] = 1;
        table.Symbols[0] = static_cast<std::uint8_t>(a_first ? a : b);
        table.Symbols[1] = static_cast<std::uint8_t>(a_first ? b : a);
        use_up();
        return;
    }
    used[static_cast<std::size_t>(n)] = 256;
    counts[256] = 1;
    const int leaves = n + 1;

    // Each group has a key: its count above its symbol's place counted from the
    // top, so that the smallest key is the smallest count and, among equal counts,
    // the higher symbol, the pair the linear search of OptimizeHuffmanTable takes.
    // The keys of the groups alive are all different. Below the key sits the
    // group's tree node, which does not change the order.
    constexpr int kNodeBits = 10;  // 2 * 257 nodes
    constexpr std::uint64_t kNodeMask = (std::uint64_t{1} << kNodeBits) - 1;
    auto key = [](std::int64_t count, int symbol) {
        return (static_cast<std::uint64_t>(count) << 9 | static_cast<std::uint64_t>(511 - symbol)) << kNodeBits;
    };
    auto symbol_of = [](std::uint64_t k) { return 511 - static_cast<int>(k >> kNodeBits & 511); };
    constexpr std::uint64_t kNone = ~std::uint64_t{0};

    // The leaves in rising order of key, by insertion. They are taken from the
    // highest symbol down: the counts of a page's symbols mostly fall as the
    // symbols rise, so most land at the end or close to it.
    std::array<std::uint64_t, 258> leaf;
    for (int k = 0; k < leaves; ++k) {
        const int s = used[static_cast<std::size_t>(leaves - 1 - k)];
        const std::uint64_t x = key(counts[static_cast<std::size_t>(s)], s);
        int at = k;
        while (at > 0 && leaf[static_cast<std::size_t>(at - 1)] > x) {
            leaf[static_cast<std::size_t>(at)] = leaf[static_cast<std::size_t>(at - 1)];
            --at;
        }
        leaf[static_cast<std::size_t>(at)] = x;
    }
    for (int k = 0; k < leaves; ++k) leaf[static_cast<std::size_t>(k)] |= static_cast<std::uint64_t>(k);
    leaf[static_cast<std::size_t>(leaves)] = kNone;

    // Two queues instead of a heap: the leaves, and the merged groups in the
    // order they were made. The counts taken out never fall, so the sums come in
    // rising order; two sums can only be equal when all four counts are, and then
    // the earlier one's first part had the smaller key, as its own key has. So
    // the merged queue stays in order of key, and the smaller of the two fronts
    // is always the smallest group.
    // Both end in kNone. The choice is made without a branch: which front is
    // smaller is close to random.
    std::array<std::uint64_t, 258> merged;
    merged[0] = kNone;
    int head = 0, tail = 0;
    int next_leaf = 0;
    auto pop = [&] {
        const std::uint64_t l = leaf[static_cast<std::size_t>(next_leaf)];
        const std::uint64_t m = merged[static_cast<std::size_t>(head)];
        const bool from_leaves = l < m;
        next_leaf += from_leaves;
        head += !from_leaves;
        return from_leaves ? l : m;
    };

    // Each merge hangs the two groups under a new node: a symbol's code size,
    // the number of merges its group took part in, is its depth in that tree.
    // Leaves are nodes 0 .. leaves - 1 in order of key; merges follow them.
    std::array<int, 2 * 257> parent;
    int next_node = leaves;
    for (int left = leaves; left >= 2; --left) {
        const std::uint64_t k1 = pop();
        const std::uint64_t k2 = pop();
        parent[static_cast<std::size_t>(k1 & kNodeMask)] = next_node;
        parent[static_cast<std::size_t>(k2 & kNodeMask)] = next_node;
        const std::int32_t sum = bmptojpg_detail::add_i32(static_cast<std::int64_t>(k1 >> (kNodeBits + 9)),
                                                          static_cast<std::int64_t>(k2 >> (kNodeBits + 9)));
        merged[static_cast<std::size_t>(tail++)] = key(sum, symbol_of(k1)) | static_cast<std::uint64_t>(next_node++);
        merged[static_cast<std::size_t>(tail)] = kNone;
    }

    // Depths from the root (the last node) down, and the number of symbols of
    // each code size, the reserved point among them.
    std::array<std::int32_t, 2 * 257> depth;
    std::array<std::int32_t, 258> bits;
    depth[static_cast<std::size_t>(next_node - 1)] = 0;
    int largest = 0;
    for (int id = next_node - 2; id >= leaves; --id)
        depth[static_cast<std::size_t>(id)] = depth[static_cast<std::size_t>(parent[static_cast<std::size_t>(id)])] + 1;
    std::array<std::int32_t, 257> size_of;  // by symbol, for the symbols that occur
    for (int id = 0; id < leaves; ++id) {
        const int d = depth[static_cast<std::size_t>(parent[static_cast<std::size_t>(id)])] + 1;
        size_of[static_cast<std::size_t>(symbol_of(leaf[static_cast<std::size_t>(id)]))] = d;
        if (d > largest) largest = d;
    }
    std::fill(bits.begin(), bits.begin() + largest + 1, 0);
    for (int id = 0; id < leaves; ++id)
        ++bits[static_cast<std::size_t>(size_of[static_cast<std::size_t>(symbol_of(leaf[static_cast<std::size_t>(id)]))])];
    use_up();

    // Symbols by code size, then by value: a counting sort over the sizes of the
    // symbols that occur, taken in order of value. The reserved point, taken out
    // first, is among the longest codes (a group taken out earlier is never
    // higher in the tree), so it would stand last: it is simply left out.
    std::array<int, 258> start;
    int at = 0;
    for (int size = 1; size <= largest; ++size) {
        start[static_cast<std::size_t>(size)] = at;
        at += bits[static_cast<std::size_t>(size)];
    }
    for (int k = 0; k < n; ++k) {
        const int s = used[static_cast<std::size_t>(k)];
        table.Symbols[static_cast<std::size_t>(start[static_cast<std::size_t>(size_of[static_cast<std::size_t>(s)])]++)] =
            static_cast<std::uint8_t>(s);
    }
    limit_lengths(bits.data(), largest, table);
}

void bmptojpg::ExpandHuffmanTable(HuffmanTableRecord& table, int largest_symbol) {
    if (table.CodedKnown) {
        for (std::size_t w = 0; w < table.Coded.size(); ++w)
            for (std::uint64_t left = table.Coded[w]; left != 0; left &= left - 1) {
                const std::size_t symbol = w * 64 + static_cast<std::size_t>(std::countr_zero(left));
                table.CodeMask[symbol] = 0;
                table.Code[symbol] = -1;
            }
    } else {
        table.CodeMask.fill(0);
        table.Code.fill(-1);
    }
    // Until this table is complete, the entries are not known to be reset.
    table.CodedKnown = false;
    std::array<std::uint64_t, 4> coded{};
    std::int32_t code = 0, mask = 1;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        const int count = table.Counts[static_cast<std::size_t>(length - 1)];
        if (k + count > 256) throw bad_huffman_table();
        for (int n = 0; n < count; ++n) {
            const int symbol = table.Symbols[static_cast<std::size_t>(k)];
            std::uint64_t& word = coded[static_cast<std::size_t>(symbol / 64)];
            const std::uint64_t bit = std::uint64_t{1} << (symbol % 64);
            if (symbol > largest_symbol || (word & bit) != 0) throw bad_huffman_table();
            word |= bit;
            table.CodeMask[static_cast<std::size_t>(symbol)] = mask;
            table.Code[static_cast<std::size_t>(symbol)] = code;
            ++code;
            ++k;
        }
        mask *= 2;
        if (code >= mask) throw bad_huffman_table();
        code *= 2;
    }
    if (k == 0) throw bad_huffman_table();
    table.Coded = coded;
    table.CodedKnown = true;
}

bmptojpg::TableUse bmptojpg::SurveyTables(const ScanPlan& plan, int first, int last) const {
    TableUse use;
    use.interleaved.assign(plan.component.size(), false);
    for (const ScanGroup& g : ScanGroups(plan, first, last))
        for (int i = g.first; i <= g.last; ++i) {
            const std::size_t at = static_cast<std::size_t>(i);
            bmptojpg_detail::check_table_id(plan.dc_table[at]);
            bmptojpg_detail::check_table_id(plan.ac_table[at]);
            use.dc_in_use[plan.dc_table[at]] = true;
            use.ac_in_use[plan.ac_table[at]] = true;
            use.interleaved[at] = g.last > g.first;
        }
    return use;
}

std::int32_t bmptojpg::OptimizeTables(const ScanPlan& plan, int first, int last) {
    const TableUse use = SurveyTables(plan, first, last);
    const std::vector<bool>& interleaved = use.interleaved;
    const bool* dc_in_use = use.dc_in_use;
    const bool* ac_in_use = use.ac_in_use;

    SymbolCounts counts{};
    bmptojpg_detail::ByteTally tally;
    auto add_bits = [&](std::int64_t bits) { tally.add_bits(bits); };
    auto code_length = [](const HuffmanTableRecord& t, int s) {
        int length = 1;
        for (std::int32_t m = t.CodeMask[static_cast<std::size_t>(s)]; m > 1; m /= 2) ++length;
        return length;
    };

    for (int k = 0; k < 4; ++k) {
        if (dc_in_use[k]) {
            for (int i = first; i <= last; ++i) {
                const std::size_t at = static_cast<std::size_t>(i);
                if (plan.dc_table[at] != k) continue;
                check_index(plan.component[at], Components.size());
                const ComponentRecord& comp = Components[static_cast<std::size_t>(plan.component[at])];
                if (interleaved[at])
                    CountDCSymbolsInterleaved(comp.Coefficients, counts, comp.H, comp.V);
                else
                    CountDCSymbols(comp.Coefficients, counts);
            }
            const SymbolCounts kept = counts;
            OptimizeHuffmanTable(DCTables[static_cast<std::size_t>(k)], counts);
            ExpandHuffmanTable(DCTables[static_cast<std::size_t>(k)], Precision == 12 ? 15 : 11);
            for (int s = 0; s <= 15; ++s)
                if (kept[static_cast<std::size_t>(s)] != 0)
                    add_bits(std::int64_t{kept[static_cast<std::size_t>(s)]} * (code_length(DCTables[static_cast<std::size_t>(k)], s) + s));
        }
        if (ac_in_use[k]) {
            for (int i = first; i <= last; ++i) {
                const std::size_t at = static_cast<std::size_t>(i);
                if (plan.ac_table[at] != k) continue;
                check_index(plan.component[at], Components.size());
                const ComponentRecord& comp = Components[static_cast<std::size_t>(plan.component[at])];
                CountACSymbols(comp.Coefficients, counts);
                if (interleaved[at]) CountDummyBlockEOBs(comp.Coefficients, counts, comp.H, comp.V);
            }
            const SymbolCounts kept = counts;
            OptimizeHuffmanTable(ACTables[static_cast<std::size_t>(k)], counts);
            ExpandHuffmanTable(ACTables[static_cast<std::size_t>(k)], 255);
            for (int s = 0; s <= 255; ++s)
                if (kept[static_cast<std::size_t>(s)] != 0)
                    add_bits(std::int64_t{kept[static_cast<std::size_t>(s)]} * (code_length(ACTables[static_cast<std::size_t>(k)], s) + s % 16));
        }
    }
    std::int64_t n = tally.whole_bytes();
    if (n > INT32_MAX) throw VbError::overflow();
    return static_cast<std::int32_t>(n);
}
