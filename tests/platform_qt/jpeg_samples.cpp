#include "jpeg_samples.h"

#include <cstdio>
#include <jpeglib.h>
#include <vector>

#include <QFile>

namespace pagiro::test {

QImage busy_picture(int width, int height, unsigned seed) {
    QImage picture(width, height, QImage::Format_RGB32);
    unsigned state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = int(state >> 27);  // 0 .. 31
            const int r = ((x * 255) / std::max(1, width - 1) + noise) & 255;
            const int g = ((x / 7 + y / 5) % 2) ? 230 - noise : 20 + noise;
            const int b = ((y * 255) / std::max(1, height - 1) + 3 * noise) & 255;
            picture.setPixel(x, y, qRgb(r, g, b));
        }
    return picture;
}

bool write_jpeg(const QString& path, const QImage& picture, const JpegKind& kind) {
    std::FILE* out = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!out) return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = JDIMENSION(picture.width());
    info.image_height = JDIMENSION(picture.height());
    const int channels = kind.space == JpegKind::grey ? 1 : kind.space == JpegKind::cmyk ? 4 : 3;
    info.input_components = channels;
    info.in_color_space = channels == 1 ? JCS_GRAYSCALE : channels == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kind.quality, TRUE);
    if (kind.space == JpegKind::rgb) jpeg_set_colorspace(&info, JCS_RGB);
    if (kind.space == JpegKind::cmyk) jpeg_set_colorspace(&info, JCS_CMYK);
    if (channels >= 3) {
        info.comp_info[0].h_samp_factor = kind.luma_h;
        info.comp_info[0].v_samp_factor = kind.luma_v;
        for (int c = 1; c < channels; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    }
    if (kind.progressive) jpeg_simple_progression(&info);
    info.arith_code = kind.arithmetic ? TRUE : FALSE;
    info.restart_in_rows = kind.restart_rows;
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(std::size_t(picture.width()) * std::size_t(channels));
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            JSAMPLE* s = row.data() + std::size_t(x) * std::size_t(channels);
            if (channels == 1) {
                s[0] = JSAMPLE(qGray(p));
            } else {
                s[0] = JSAMPLE(qRed(p));
                s[1] = JSAMPLE(qGreen(p));
                s[2] = JSAMPLE(qBlue(p));
                if (channels == 4) s[3] = JSAMPLE((x * 3 + y) & 255);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(out) == 0;
}

}  // namespace pagiro::test
