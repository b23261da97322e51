#pragma once
// PNG files for typeset pages, through libpng: Qt's PNG writer cannot write 2-bit
// grey (what a 4-level e-ink screen shows), and libpng lets a run choose a fast
// compression level and filter.
#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

namespace pagiro::typeset {

enum class PngKind { colour, grey8, grey2, grey1 };

// The file's bytes, or nothing with `error` set. Grey kinds take each pixel's
// grey value (by luma) and round it to the nearest of the kind's levels.
// `level` is zlib's compression level, 0 … 9.
std::vector<std::uint8_t> encode_png(const QImage& image, PngKind kind, std::string& error, int level = 3);

}  // namespace pagiro::typeset
