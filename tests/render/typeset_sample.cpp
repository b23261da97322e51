// Lays out a text file as typeset pages and writes the first of them as 8-bit
// grey PNG files, for looking at pages while working on the layout:
//   typeset_sample TEXT.txt OUTDIR [PAGES [WIDTH HEIGHT [POINTS]]]
// Prints how many pages a second the layout and the renderer each managed.
#include "layout/qt_measurer.h"
#include "layout/typeset.h"
#include "render/page_renderer.h"
#include "render/png_writer.h"

#include <QFile>
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <fstream>

using namespace pagiro::typeset;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: typeset_sample TEXT.txt OUTDIR [PAGES [WIDTH HEIGHT [POINTS]]]\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QString text = QString::fromUtf8(file.readAll());
    const int wanted = argc > 3 ? std::atoi(argv[3]) : 5;
    Style style;
    if (argc > 5) style.page_width = std::atoi(argv[4]), style.page_height = std::atoi(argv[5]);
    if (argc > 6) style.font_size_pt = std::atof(argv[6]);
    style.footer = FooterKind::page_number;
    QtMeasurer measurer(style);
    Typesetter typesetter(text, style, measurer);
    PageRenderer renderer(style, {});
    using clock = std::chrono::steady_clock;
    clock::duration layout{}, render{}, encode{};
    int n = 0;
    for (;;) {
        auto t0 = clock::now();
        auto page = typesetter.next_page();
        auto t1 = clock::now();
        layout += t1 - t0;
        if (!page) break;
        ++n;
        if (n > wanted) continue;
        const QImage image = renderer.render(*page, {n, 0});
        auto t2 = clock::now();
        std::string error;
        const auto bytes = encode_png(image, PngKind::grey8, error);
        auto t3 = clock::now();
        render += t2 - t1;
        encode += t3 - t2;
        std::ofstream(std::string(argv[2]) + "/page" + std::to_string(n) + ".png", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    auto secs = [](clock::duration d) { return std::chrono::duration<double>(d).count(); };
    const int drawn = std::min(n, wanted);
    std::printf("%d pages laid out in %.3f s (%.0f pages/s); %d drawn in %.3f s, encoded in %.3f s (%.0f pages/s)\n", n,
                secs(layout), n / secs(layout), drawn, secs(render), secs(encode), drawn / (secs(render) + secs(encode)));
    return 0;
}
