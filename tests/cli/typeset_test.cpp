// Typeset pages through the real command line: the pages on disk decoded by
// independent readers (Qt's PNG and BMP, libjpeg-turbo, giflib), the layout dump
// read back as JSON, and the options' bad values refused as usage.
#include <cstdio>
#include <gif_lib.h>
#include <iconv.h>
#include <jpeglib.h>

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include "cli_support.h"
#include "render/devices.h"
#include "text_samples.h"

namespace {

std::string utf8_of_gbk(const std::string& gbk) {
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    std::string out(gbk.size() * 2, '\0');
    char* in = const_cast<char*>(gbk.data());
    char* to = out.data();
    std::size_t left = gbk.size(), room = out.size();
    iconv(cd, &in, &left, &to, &room);
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

QString without_blanks(const QString& text) {
    QString out;
    for (QChar c : text)
        if (!c.isSpace()) out += c;
    return out;
}

// The PNG header's bit depth and colour type.
std::pair<int, int> png_depth_and_type(const std::string& bytes) {
    if (bytes.size() < 26 || bytes.compare(1, 3, "PNG") != 0) return {-1, -1};
    return {static_cast<unsigned char>(bytes[24]), static_cast<unsigned char>(bytes[25])};
}

struct Jpeg {
    int width = 0, height = 0, components = 0;
};
Jpeg read_jpeg(const std::string& bytes) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr e{};
    d.err = jpeg_std_error(&e);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&d, TRUE);
    Jpeg j{static_cast<int>(d.image_width), static_cast<int>(d.image_height), d.num_components};
    jpeg_destroy_decompress(&d);
    return j;
}

// The GIF's size and whether any graphics control block marks a transparent index.
struct Gif {
    int width = 0, height = 0;
    bool transparent = false;
};
Gif read_gif(const fs::path& path) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    Gif g;
    if (!gif || DGifSlurp(gif) != GIF_OK) return g;
    g.width = gif->SWidth, g.height = gif->SHeight;
    for (int i = 0; i < gif->ImageCount; ++i) {
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK && gcb.TransparentColor != NO_TRANSPARENT_COLOR)
            g.transparent = true;
    }
    DGifCloseFile(gif, &error);
    return g;
}

struct Typeset : Cli {
    Result convert(std::vector<std::string> options) {
        std::vector<std::string> args{"convert", "novel.txt", "--quiet", "--layout", "typeset"};
        args.insert(args.end(), options.begin(), options.end());
        return run(args);
    }
    QSize size_of(const fs::path& page) { return QImage(QString::fromStdString(page.string())).size(); }
};

}  // namespace

TEST_F(Typeset, APresetsPagesAreDecodablePngOfItsSizeAndTheDumpHoldsEveryCharacterOnce) {
    const std::string gbk = gbk_novel(400);
    write("novel.txt", gbk);
    // The preset's own format is a book; its screen's PNG pages are asked for.
    Result r = convert({"--encoding", "gbk", "--device", "xteink-x4", "--format", "png", "-o", "out", "--dump-layout",
                        "layout.jsonl"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("电子书生成完毕!"), std::string::npos);

    // One JSON object a line, pages counted from 1 without a gap, lines from 1 on each page.
    std::istringstream dump(slurp(dir / "layout.jsonl"));
    QString laid_out;
    int page = 0, line = 0, objects = 0;
    for (std::string text; std::getline(dump, text);) {
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << text;
        ++objects;
        if (o["page"].toInt() != page) {
            EXPECT_EQ(o["page"].toInt(), page + 1) << text;
            page = o["page"].toInt(), line = 0;
        }
        EXPECT_EQ(o["line"].toInt(), ++line) << text;
        EXPECT_GE(o["x"].toInt(), 0);
        EXPECT_LE(o["x"].toInt() + o["width"].toInt(), 480) << text;
        EXPECT_LE(o["y"].toInt(), 800);
        laid_out += o["text"].toString();
    }
    EXPECT_GT(objects, 200);
    const QString input = QString::fromStdString(utf8_of_gbk(gbk));
    ASSERT_GT(input.size(), 20000);
    EXPECT_TRUE(without_blanks(laid_out) == without_blanks(input)) << "a character is lost, doubled or moved";

    // A page file for every page of the dump, named as classic pages are.
    const auto pages = files(dir / "out");
    ASSERT_EQ(pages.size(), static_cast<std::size_t>(page));
    EXPECT_TRUE(pages.count("kbwm000001.png"));
    char last[32];
    std::snprintf(last, sizeof last, "kbwm%06d.png", page);
    EXPECT_TRUE(pages.count(last)) << last;
    for (const std::string& p : pages) {
        EXPECT_EQ(size_of(dir / "out" / p), QSize(480, 800)) << p;
        EXPECT_EQ(png_depth_and_type(slurp(dir / "out" / p)), std::make_pair(2, 0)) << p << ": a 4-level screen";
    }
}

TEST_F(Typeset, PngPagesHoldWhatTheScreenAndTheColoursNeed) {
    write("novel.txt", gbk_lines(30));
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::pair<int, int> depth_and_type;
    } cases[] = {
        {"grey", {}, {8, 0}},
        {"kindle", {"--device", "kindle"}, {8, 0}},
        {"mono", {"--render", "mono"}, {1, 0}},
        {"colour", {"--text-color", "#a00000"}, {8, 2}},
        {"grey_colours", {"--render", "mono", "--text-color", "#404040"}, {8, 0}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options{"-o", c.name};
        options.insert(options.end(), c.options.begin(), c.options.end());
        Result r = convert(options);
        ASSERT_EQ(r.code, 0) << c.name << ": " << r.err;
        EXPECT_EQ(png_depth_and_type(slurp(dir / c.name / "kbwm000001.png")), c.depth_and_type) << c.name;
    }
    // The mono page has ink and paper only.
    QImage mono(QString::fromStdString((dir / "mono" / "kbwm000001.png").string()));
    int ink = 0;
    for (int y = 0; y < mono.height(); ++y)
        for (int x = 0; x < mono.width(); ++x) {
            const int g = qGray(mono.pixel(x, y));
            ASSERT_TRUE(g == 0 || g == 255) << g;
            ink += g == 0;
        }
    EXPECT_GT(ink, 1000);
}

TEST_F(Typeset, PresetsSetTheSizeAndExplicitOptionsWin) {
    write("novel.txt", gbk_lines(30));
    struct Case {
        const char* name;
        std::vector<std::string> options;
        QSize size;
    } cases[] = {
        {"default", {}, {480, 800}},
        {"x4", {"--device", "xteink-x4", "--format", "png"}, {480, 800}},
        {"kindle_wider", {"--device", "kindle", "--width", "500"}, {500, 800}},
        {"case", {"--device", "Kobo-Clara"}, {1072, 1448}},
        {"own", {"--width", "300", "--height", "400"}, {300, 400}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options{"-o", c.name};
        options.insert(options.end(), c.options.begin(), c.options.end());
        Result r = convert(options);
        ASSERT_EQ(r.code, 0) << c.name << ": " << r.err;
        EXPECT_EQ(size_of(dir / c.name / "kbwm000001.png"), c.size) << c.name;
    }
    // A phone's preset brings JPEG pages; an explicit format wins over it.
    ASSERT_EQ(convert({"-o", "phone", "--device", "phone"}).code, 0);
    EXPECT_TRUE(files(dir / "phone").count("kbwm000001.jpg"));
    ASSERT_EQ(convert({"-o", "phone_bmp", "--device", "phone", "--format", "bmp"}).code, 0);
    EXPECT_EQ(size_of(dir / "phone_bmp" / "kbwm000001.bmp"), QSize(1080, 1920));
    // A player's preset serves classic pages too: its size and its JPEG format.
    ASSERT_EQ(run({"convert", "novel.txt", "--quiet", "-o", "player", "--device", "player-176x220"}).code, 0);
    EXPECT_EQ(size_of(dir / "player" / "kbwm000001.jpg"), QSize(176, 220));
}

TEST_F(Typeset, ListDevicesPrintsEveryPreset) {
    Result r = run({"convert", "--list-devices"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, pagiro::typeset::device_listing());
    for (const auto& d : pagiro::typeset::device_presets()) {
        const std::string row = std::string(d.name) + " ";
        EXPECT_NE(r.out.find(row), std::string::npos) << d.name;
        EXPECT_NE(r.out.find(std::to_string(d.width) + " x " + std::to_string(d.height)), std::string::npos) << d.name;
    }
    EXPECT_FALSE(fs::exists(dir / "电子书"));
}

TEST_F(Typeset, GreyJpegOpaqueGifAndBmpPages) {
    write("novel.txt", gbk_lines(30));
    ASSERT_EQ(convert({"-o", "jpg", "--format", "jpg"}).code, 0);
    const Jpeg j = read_jpeg(slurp(dir / "jpg" / "kbwm000001.jpg"));
    EXPECT_EQ(j.components, 1);
    EXPECT_EQ(j.width, 480);
    EXPECT_EQ(j.height, 800);
    EXPECT_EQ(size_of(dir / "jpg" / "kbwm000001.jpg"), QSize(480, 800));  // a second decoder reads it too

    ASSERT_EQ(convert({"-o", "gif", "--format", "gif"}).code, 0);
    Gif g = read_gif(dir / "gif" / "kbwm000001.gif");
    EXPECT_EQ(g.width, 480);
    EXPECT_FALSE(g.transparent);
    ASSERT_EQ(convert({"-o", "gif_clear", "--format", "gif", "--gif-background", "transparent"}).code, 0);
    EXPECT_TRUE(read_gif(dir / "gif_clear" / "kbwm000001.gif").transparent);

    ASSERT_EQ(convert({"-o", "bmp", "--format", "bmp"}).code, 0);
    EXPECT_EQ(size_of(dir / "bmp" / "kbwm000001.bmp"), QSize(480, 800));
}

TEST_F(Typeset, ClassicGifPagesAreTransparentUnlessAskedOtherwise) {
    write("novel.txt", gbk_lines(10));
    ASSERT_EQ(run({"convert", "novel.txt", "--quiet", "-o", "clear"}).code, 0);
    ASSERT_EQ(run({"convert", "novel.txt", "--quiet", "-o", "opaque", "--gif-background", "opaque"}).code, 0);
    EXPECT_TRUE(read_gif(dir / "clear" / "kbwm000001.gif").transparent);
    Gif opaque = read_gif(dir / "opaque" / "kbwm000001.gif");
    EXPECT_FALSE(opaque.transparent);
    EXPECT_EQ(opaque.width, 128);
}

TEST_F(Typeset, VolumesFirstNumberHeadingsAndFooterFollowTheOptions) {
    // Three "chapters" by the user's own pattern, each short enough for one page.
    write("novel.txt", "@@ one\r\n\xD6\xD0\xCE\xC4\r\n@@ two\r\n\xD6\xD0\xCE\xC4\r\n@@ three\r\n\xD6\xD0\xCE\xC4\r\n");
    Result r = convert({"-o", "vol", "--chapter-pattern", "^@@", "--volume-pages", "2", "--first", "7",
                        "--dump-layout", "d.jsonl", "--footer", "page"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::set<std::string> expected{"分卷1/kbwm000007.png", "分卷1/kbwm000008.png", "分卷2/kbwm000009.png"};
    EXPECT_EQ(files(dir / "vol"), expected);
    // Each heading opens its page; the dump counts pages from 1 whatever the file numbers.
    const std::string dump = slurp(dir / "d.jsonl");
    for (int p = 1; p <= 3; ++p)
        EXPECT_NE(dump.find("{\"page\": " + std::to_string(p) + ", \"line\": 1,"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("{\"page\": 4"), std::string::npos);
    EXPECT_EQ(dump.find("1 / 3"), std::string::npos) << "the footer is not body text";

    ASSERT_EQ(convert({"-o", "together", "--chapter-pattern", "^@@", "--no-chapter-pages"}).code, 0);
    EXPECT_EQ(files(dir / "together").size(), 1u);
}

TEST_F(Typeset, BadValuesAreUsageErrorsThatSayWhatToGive) {
    write("novel.txt", "abc");
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--layout", "fancy"}, "--layout must be classic or typeset, not \"fancy\""},
        {{"--layout", "typeset", "--margin", "-1"}, "--margin must be a whole number from 0 to 10000"},
        {{"--layout", "typeset", "--margin-left", "2.5"}, "--margin-left must be a whole number"},
        {{"--layout", "typeset", "--margin", "300"}, "the margins leave too little room"},
        {{"--layout", "typeset", "--line-spacing", "0"}, "--line-spacing must be a number from 0.5 to 10"},
        {{"--layout", "typeset", "--indent", "x"}, "--indent must be a number"},
        {{"--layout", "typeset", "--footer", "top"}, "--footer must be none, page or chapter"},
        {{"--layout", "typeset", "--render", "colour"}, "--render must be grey or mono"},
        {{"--layout", "typeset", "--ink-weight", "0"}, "--ink-weight must be a number"},
        {{"--layout", "typeset", "--format", "tiff"}, "--format must be png, jpg, gif or bmp for typeset pages"},
        {{"--layout", "typeset", "--chapter-pattern", "(第"}, "--chapter-pattern is not a usable regular expression"},
        {{"--layout", "typeset", "--chapter-pages", "--no-chapter-pages"}, "cannot both be given"},
        {{"--layout", "typeset", "--background-picture", "a.jpg"}, "--background-picture is for classic pages"},
        {{"--device", "nokia"}, "--device must be one of the names --list-devices prints"},
        {{"--gif-background", "clear"}, "--gif-background must be opaque or transparent"},
        {{"--margin", "10"}, "--margin is for typeset pages; add --layout typeset"},
        {{"--format", "png"}, "--format must be jpg, gif or bmp"},
    };
    for (auto& c : cases) {
        std::vector<std::string> args{"convert", "novel.txt", "-o", "out"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result r = run(args);
        EXPECT_EQ(r.code, 2) << c.args[0] << " " << c.args[1];
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out")) << c.args[1];
    }
}

TEST_F(Typeset, CtrlCStopsAfterThePageBeingBuiltAndCountsWhatIsOnDisk) {
    write("novel.txt", gbk_novel(20000));
    pid_t pid = spawn({"convert", "novel.txt", "--layout", "typeset", "-o", "out", "--format", "bmp", "--dump-layout",
                       "d.jsonl"});
    for (int k = 0; k < 400 && files(dir / "out").size() < 3; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(pid, SIGINT);
    Result r = finish(pid);
    EXPECT_EQ(r.code, 130) << r.err;
    const auto pages = files(dir / "out");
    ASSERT_GE(pages.size(), 3u);
    EXPECT_NE(r.out.find("共生成图片" + std::to_string(pages.size()) + "张"), std::string::npos) << r.out;
    for (const std::string& p : pages) EXPECT_EQ(fs::file_size(dir / "out" / p), 54u + 480u * 3u * 800u) << p;
    // The dump lists exactly the pages written.
    const std::string dump = slurp(dir / "d.jsonl");
    EXPECT_NE(dump.find("{\"page\": " + std::to_string(pages.size()) + ", \"line\": 1,"), std::string::npos);
    EXPECT_EQ(dump.find("{\"page\": " + std::to_string(pages.size() + 1) + ","), std::string::npos);
}

TEST_F(Typeset, AFailedRunSaysWhyKeepsWholePagesAndWritesNoDump) {
    write("novel.txt", gbk_novel(300));
    in_child = [] {
        rlimit limit{1000000, 1000000};  // less than one 480 x 800 BMP page
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    Result r = convert({"-o", "out", "--format", "bmp", "--dump-layout", "d.jsonl"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write the page file"), std::string::npos) << r.err;
    EXPECT_TRUE(files(dir / "out").empty());
    EXPECT_FALSE(fs::exists(dir / "d.jsonl"));
    EXPECT_TRUE(r.out.empty());
    in_child = nullptr;

    // Page numbers go on past 32767, as the classic pages' do.
    r = convert({"-o", "last", "--first", "32766"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("page numbers"), std::string::npos) << r.err;
    const std::set<std::string> last = files(dir / "last");
    EXPECT_GE(last.size(), 3u);
    EXPECT_EQ(*last.begin(), "kbwm032766.png");
    EXPECT_TRUE(last.count("kbwm032768.png")) << *last.rbegin();
}
