// Encodes any picture with bmptojpg: any size from 1 x 1 to 2048 x 2048 (the area is
// at most 64 pixels plus one per input byte, so typical runs stay small), any sampling
// factors, quality, comment, pixel layout and source rectangle, on any code path and
// thread count. libjpeg-turbo must decode the file cleanly, at the rectangle's size,
// with the components and factors asked for; the plain procedures must give the same
// bytes.
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include <jpeglib.h>

#include "fuzz_input.h"
#include "jpeg/bmptojpg.h"
#include "platform/pixel_view.h"

namespace {

struct Decoded {
    bool ok = false;
    int warnings = 0;
    int width = 0, height = 0, components = 0;
    int factors[3][2] = {};
};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    int warnings;
};

void on_error(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }
void on_message(j_common_ptr cinfo, int level) {
    if (level < 0) ++reinterpret_cast<ErrorManager*>(cinfo->err)->warnings;
}

// Decodes every scan to the component planes as stored (no upsampling, which
// libjpeg-turbo does not offer for every factor combination). Nothing with a
// destructor lives across the setjmp.
bool run_decode(const std::uint8_t* file, std::size_t size, Decoded* out, ErrorManager* err,
                std::uint8_t* rows_memory) {
    jpeg_decompress_struct cinfo;
    cinfo.err = jpeg_std_error(&err->pub);
    err->pub.error_exit = on_error;
    err->pub.emit_message = on_message;
    err->warnings = 0;
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    out->width = static_cast<int>(cinfo.image_width);
    out->height = static_cast<int>(cinfo.image_height);
    out->components = cinfo.num_components;
    for (int c = 0; c < cinfo.num_components && c < 3; ++c) {
        out->factors[c][0] = cinfo.comp_info[c].h_samp_factor;
        out->factors[c][1] = cinfo.comp_info[c].v_samp_factor;
    }
    if (cinfo.num_components > 3 || cinfo.max_v_samp_factor > 4 || cinfo.max_h_samp_factor > 4) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.raw_data_out = TRUE;
    jpeg_start_decompress(&cinfo);
    // One buffer row per sample row of an MCU row, all sharing one scratch line as
    // wide as the widest plane.
    JSAMPROW rows[3][32];
    JSAMPARRAY planes[3];
    for (int c = 0; c < cinfo.num_components; ++c) {
        for (int r = 0; r < 32; ++r) rows[c][r] = rows_memory;
        planes[c] = rows[c];
    }
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_raw_data(&cinfo, planes, static_cast<JDIMENSION>(cinfo.max_v_samp_factor * DCTSIZE));
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

Decoded decode(const std::vector<std::uint8_t>& file, int width) {
    Decoded d;
    ErrorManager err{};
    // Widest plane: the picture's width rounded up to whole MCUs of the largest factor.
    std::vector<std::uint8_t> scratch(std::size_t(width + 32) * 4 + 64);
    d.ok = run_decode(file.data(), file.size(), &d, &err, scratch.data());
    d.warnings = err.warnings;
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t mode = in.u8();
    const bmptojpg::CodePath path = static_cast<bmptojpg::CodePath>(mode % 3);
    const int threads = 1 + (mode >> 2 & 1);
    const bool rgb24 = mode >> 3 & 1;
    const bool grey = (mode >> 4 & 3) == 0;
    const bool empty_view = (mode >> 6) == 3 && in.u8() == 0x3C;
    int width = 1 + in.u16() % 2048;
    int height = 1 + in.u16() % 2048;
    const std::size_t budget = 64 + size;
    if (std::size_t(width) * std::size_t(height) > budget) height = std::max<int>(1, static_cast<int>(budget / std::size_t(width)));
    int h[3], v[3];
    for (int c = 0; c < 3; ++c) {
        const std::uint8_t f = in.u8();
        h[c] = 1 + (f & 3);
        v[c] = 1 + (f >> 2 & 3);
    }
    const int quality = in.u8() % 110;  // values outside 1 .. 100 are ignored
    // The rectangle taken: up to 3 pixels more or less than the view, shifted up to
    // 3 pixels either way; what lies outside the view reads as black.
    const std::uint8_t geometry = in.u8();
    const std::uint8_t shift = in.u8();
    const int rect_width = std::max(1, width + (geometry & 7) % 7 - 3);
    const int rect_height = std::max(1, height + (geometry >> 3 & 7) % 7 - 3);
    const int left = (shift & 7) % 7 - 3, top = (shift >> 3 & 7) % 7 - 3;
    const int pad = geometry >> 6;
    std::string comment;
    for (int k = in.u8() % 32; k > 0; --k) comment += static_cast<char>(in.u8());

    const int bpp = rgb24 ? 3 : 4;
    const std::ptrdiff_t stride = std::ptrdiff_t(width) * bpp + pad;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * std::size_t(height));
    const std::uint8_t* fill = in.rest();
    const std::size_t fill_size = in.rest_size();
    if (fill_size)
        for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = fill[k % fill_size];
    pagiro::PixelView view{pixels.data(), width, height, stride,
                           rgb24 ? pagiro::PixelFormat::Rgb24 : pagiro::PixelFormat::Bgrx32};
    if (empty_view) view = {};

    auto encode = [&](bmptojpg::CodePath code_path, bmptojpg& e) {
        bmptojpg::SetCodePath(code_path);
        e.SetThreads(threads);
        e.Quality(quality);
        if (grey) e.SetSamplingFrequencies(h[0], v[0], 0, 0, 0, 0);
        else e.SetSamplingFrequencies(h[0], v[0], h[1], v[1], h[2], v[2]);
        e.Comment(comment);
        FUZZ_CHECK(e.SampleHDC(view, rect_width, rect_height, left, top) == 0);
    };

    bmptojpg encoder;
    encode(path, encoder);
    const std::string file_name = fuzz::scratch_path("jpeg") + ".jpg";
    FUZZ_CHECK(encoder.SaveFile(file_name) == 0);
    std::ifstream f(file_name, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(f), {}};
    f.close();
    std::remove(file_name.c_str());

    const Decoded d = decode(file, rect_width);
    FUZZ_CHECK(d.ok);
    FUZZ_CHECK(d.warnings == 0);
    FUZZ_CHECK(d.width == rect_width && d.height == rect_height);
    FUZZ_CHECK(d.components == (grey ? 1 : 3));
    for (int c = 0; c < d.components; ++c)
        FUZZ_CHECK(grey ? d.factors[c][0] == 1 && d.factors[c][1] == 1
                        : d.factors[c][0] == h[c] && d.factors[c][1] == v[c]);

    if (path != bmptojpg::CodePath::Plain) {
        bmptojpg plain;
        encode(bmptojpg::CodePath::Plain, plain);
        FUZZ_CHECK(plain.SaveBytes() == file);
    }
    return 0;
}
