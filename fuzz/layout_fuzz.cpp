// Lays any UTF-16 text out under any page size (20 .. 2000 px) and font size
// (1 .. 72 pt) the window accepts, with and without dropping empty lines, and checks
// the grid: lines fit their columns, pages their lines, and every character of the
// text is either on a line or a line break (CR and the character after it).
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "generator/layout.h"
#include "platform/codepage.h"

namespace {

double columns(std::u16string_view line) {
    double w = 0;
    for (char16_t c : line) w += pagiro::ansi_char_bytes(c) == 2 ? 1.0 : 0.5;
    return w;
}

// Drives build_line directly: the position only grows, and the stop test and the
// pump run once for each character read (not for the one skipped after a CR).
void check_line_builder(std::u16string_view text, const pagiro::PageStyle& g) {
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 1;
    std::u16string line;
    while (i <= length) {
        const std::int32_t before = i;
        int asked = 0, pumped = 0;
        pagiro::build_line(text, i, g.cpl, line, [&] { return ++asked > 0; }, [&] { ++pumped; });
        FUZZ_CHECK(i > before);
        FUZZ_CHECK(asked == pumped);
        const auto read = static_cast<std::size_t>(pumped);
        FUZZ_CHECK(read == line.size() || read == line.size() + 1);
        const bool ended_by_cr = read == line.size() + 1;
        FUZZ_CHECK(i - before == pumped + (ended_by_cr ? 1 : 0));
        if (ended_by_cr) FUZZ_CHECK(text[static_cast<std::size_t>(i - 3)] == u'\r');
    }
    // A stopped run reads nothing more.
    i = 1;
    pagiro::build_line(text, i, g.cpl, line, [] { return false; }, [] { FUZZ_CHECK(false); });
    FUZZ_CHECK(i == 1 && line.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const int width = 20 + in.u16() % 1981;
    const int height = 20 + in.u16() % 1981;
    const int points = 1 + in.u8() % 72;
    const bool drop_empty = in.flag();
    std::u16string text;
    for (std::size_t k = 0; k + 1 < in.rest_size(); k += 2)
        text.push_back(static_cast<char16_t>(in.rest()[k] | in.rest()[k + 1] << 8));

    const pagiro::PageStyle g = pagiro::classic_page_style(width, height, points);
    if (!g.fits()) return 0;  // a run refuses such a page

    check_line_builder(text, g);

    const std::size_t n = text.size();
    std::size_t p = 0;  // where the next line must start in the text
    // Empty lines being dropped each stand for a CR and the character after it.
    auto skip_dropped = [&] {
        if (drop_empty)
            while (p < n && text[p] == u'\r') p += 2;
    };
    const auto pages = pagiro::paginate(text, g, drop_empty);
    for (const pagiro::LaidOutPage& page : pages) {
        FUZZ_CHECK(page.lines.size() <= g.lpp);
        for (const std::u16string& line : page.lines) {
            FUZZ_CHECK(line.find(u'\r') == std::u16string::npos);
            const double w = columns(line);
            FUZZ_CHECK(w <= g.cpl);
            skip_dropped();
            FUZZ_CHECK(!(drop_empty && line.empty()));
            FUZZ_CHECK(p + line.size() <= n);
            FUZZ_CHECK(text.compare(p, line.size(), line) == 0);
            p += line.size();
            if (line.empty()) FUZZ_CHECK(p < n);
            // With room for another column the line only ends at a CR (or the text's end).
            if (p < n && (line.empty() || 1 + w <= g.cpl)) {
                FUZZ_CHECK(text[p] == u'\r');
                p += 2;
            }
        }
    }
    skip_dropped();
    FUZZ_CHECK(p == n || (p == n + 1 && text[n - 1] == u'\r'));
    if (n == 0) FUZZ_CHECK(pages.empty());

    // A character's column width agrees with its encoded length.
    for (std::size_t k = 0; k < n && k < 16; ++k)
        FUZZ_CHECK(pagiro::ansi_encode(text.substr(k, 1)).size() ==
                   static_cast<std::size_t>(pagiro::ansi_char_bytes(text[k])));
    return 0;
}
