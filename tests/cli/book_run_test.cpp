// Books from the command line: XTC/XTCH read back with the test reader and compared
// pixel for pixel with the PNG pages of the same settings, the chapter table and the
// contents pages checked against where the headings are laid out, comic books read
// with libzip, Qt's image decoders and Qt's XML reader, and books that must not
// appear: of a failed run, of a stopped one, of a text that cannot be read.
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <map>

#include "../book/cbz_reader.h"
#include "../book/xtc_reader.h"
#include "cli_support.h"
#include "text_samples.h"

namespace {

using pagiro::test::ReadBook;
using pagiro::test::read_xtc;

// The hidden temporary files a run leaves while it writes.
std::size_t temporaries(const fs::path& folder) {
    std::size_t n = 0;
    for (auto& e : fs::directory_iterator(folder)) n += e.path().filename().string().rfind(".pagiro-tmp-", 0) == 0;
    return n;
}

// The layout dump by page: the texts of each page's lines.
std::map<int, std::vector<QString>> dump_pages(const std::string& dump) {
    std::map<int, std::vector<QString>> pages;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        pages[o["page"].toInt()].push_back(o["text"].toString());
    }
    return pages;
}

// A UTF-8 novel whose chapters are known: "第N章 ..." headings, each over `lines[N]`
// paragraphs of a few dozen characters.
std::string chaptered_text(const std::vector<int>& lines) {
    std::string t = "前言。这是一本测试用的书。\n";
    for (std::size_t c = 0; c < lines.size(); ++c) {
        t += "第" + std::to_string(c + 1) + "章 风起之" + std::to_string(c + 1) + "\n";
        for (int k = 0; k < lines[c]; ++k) t += "他沿着河岸慢慢地走，看见远处的山和近处的树，心里想着明天的事情。\n";
    }
    return t;
}

struct Books : Cli {
    QImage decode_png(const fs::path& file) {
        return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_Grayscale8);
    }
};

// A grey as the book's pages hold it: XTC pages black below the text threshold,
// XTCH pages the nearest of the four greys.
int xtc_grey(int grey) { return grey >= 192 ? 255 : 0; }
int xtch_grey(int grey) { return (grey * 3 + 127) / 255 * 85; }

}  // namespace

TEST_F(Books, XtcAndXtchPagesAreThePngPagesOfTheSameSettingsInTheFormatsGreys) {
    write("novel.txt", gbk_novel(1500));
    const std::vector<std::string> same{"convert", "novel.txt", "--quiet", "--encoding", "gbk", "-o", "out"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = same;
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    };
    Result r = with({"--layout", "typeset", "--format", "png"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = with({"--format", "xtc", "--title", "测试书", "--author", "某人"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("电子书文件：out/测试书.xtc"), std::string::npos) << r.out;
    r = with({"--format", "xtch"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("电子书文件：out/novel.xtch"), std::string::npos) << r.out;

    std::vector<QImage> png;
    for (const std::string& name : files(dir / "out"))
        if (name.ends_with(".png")) png.push_back(decode_png(dir / "out" / name));
    ASSERT_GT(png.size(), 200u);

    struct Case {
        const char* file;
        bool two_bit;
        int (*grey)(int);
    } cases[] = {{"测试书.xtc", false, xtc_grey}, {"novel.xtch", true, xtch_grey}};
    for (const Case& c : cases) {
        const ReadBook book = read_xtc(dir / "out" / c.file);
        EXPECT_EQ(book.two_bit, c.two_bit);
        // The contents pages follow the first page; every other page is the PNG run's.
        ASSERT_GT(book.pages.size(), png.size()) << c.file;
        const std::size_t contents = book.pages.size() - png.size();
        EXPECT_GE(contents, 1u);
        EXPECT_EQ(book.chapters.size(), 38u) << "第1章 … 第38章";
        for (std::size_t k = 0; k < book.pages.size(); ++k) {
            if (k >= 1 && k <= contents) continue;
            const QImage& want = png[k == 0 ? 0 : k - contents];
            const auto& got = book.pages[k];
            ASSERT_EQ(got.width, want.width());
            ASSERT_EQ(got.height, want.height());
            int differ = 0;
            for (int y = 0; y < got.height; ++y) {
                const uchar* row = want.constScanLine(y);
                for (int x = 0; x < got.width; ++x) differ += got.grey[std::size_t(y * got.width + x)] != c.grey(row[x]);
            }
            ASSERT_EQ(differ, 0) << c.file << " page " << k + 1;
        }
    }
    const ReadBook titled = read_xtc(dir / "out" / "测试书.xtc");
    EXPECT_EQ(titled.title, "测试书");
    EXPECT_EQ(titled.author, "某人");
    EXPECT_EQ(read_xtc(dir / "out" / "novel.xtch").title, "novel");
}

TEST_F(Books, TheChapterTableAndTheContentsPagesPointAtThePagesWhereTheHeadingsAre) {
    // Chapters of many lengths, more of them than one contents page lists.
    std::vector<int> lengths;
    for (int c = 0; c < 45; ++c) lengths.push_back(1 + (c * 7) % 30);
    write("novel.txt", chaptered_text(lengths));
    Result r = run({"convert", "novel.txt", "--quiet", "-o", "out", "--format", "xtch", "--dump-layout", "d.jsonl"});
    ASSERT_EQ(r.code, 0) << r.err;
    const ReadBook book = read_xtc(dir / "out" / "novel.xtch");
    const auto pages = dump_pages(slurp(dir / "d.jsonl"));
    ASSERT_EQ(pages.size(), book.pages.size()) << "the dump counts the book's pages, its contents included";

    // The contents: "目录", then one line per chapter, over pages 2, 3, …
    ASSERT_EQ(pages.at(2).front(), "目录");
    std::vector<std::pair<QString, int>> listed;
    const QRegularExpression entry(QStringLiteral("^(.*?)…+(\\d+)$"));
    int page = 2;
    for (; pages.count(page) && pages.at(page).front() != u"第1章 风起之1"; ++page)
        for (const QString& line : pages.at(page)) {
            if (line == u"目录") continue;
            const auto m = entry.match(line);
            ASSERT_TRUE(m.hasMatch()) << line.toStdString();
            listed.emplace_back(m.captured(1), m.captured(2).toInt());
        }
    EXPECT_GE(page, 4) << "45 chapters take more than one contents page";
    ASSERT_EQ(listed.size(), lengths.size());
    ASSERT_EQ(book.chapters.size(), lengths.size());
    for (std::size_t c = 0; c < lengths.size(); ++c) {
        const QString heading = QStringLiteral("第%1章 风起之%1").arg(c + 1);
        EXPECT_EQ(listed[c].first, heading);
        // The page the contents names opens with the heading, and the table agrees.
        EXPECT_EQ(pages.at(listed[c].second).front(), heading) << "listed on page " << listed[c].second;
        EXPECT_EQ(book.chapters[c].name, heading.toStdString());
        EXPECT_EQ(book.chapters[c].first_page, listed[c].second);
        const int next = c + 1 < lengths.size() ? listed[c + 1].second : static_cast<int>(book.pages.size()) + 1;
        EXPECT_EQ(book.chapters[c].last_page, next - 1);
    }
    EXPECT_EQ(listed.front().second, page) << "the first chapter follows the contents";

    // Without contents the first chapter follows the first page.
    r = run({"convert", "novel.txt", "--quiet", "-o", "plain", "--format", "xtch", "--no-toc"});
    ASSERT_EQ(r.code, 0) << r.err;
    const ReadBook plain = read_xtc(dir / "plain" / "novel.xtch");
    EXPECT_EQ(plain.pages.size(), book.pages.size() - std::size_t(page - 2));
    EXPECT_EQ(plain.chapters.at(0).first_page, 2);
}

TEST_F(Books, ClassicPagesGoIntoABookWithTheirChaptersToo) {
    // 480 x 800 at 16 pt holds 35 lines of 22 columns: a heading and 34 short lines
    // make a page, so chapter N starts on the text's page N.
    std::string text;
    for (int c = 1; c <= 5; ++c) {
        text += "第" + std::to_string(c) + "章\n";
        for (int k = 0; k < 34; ++k) text += "短句。\n";
    }
    write("novel.txt", text);
    Result r = run({"convert", "novel.txt", "--quiet", "-o", "out", "--layout", "classic", "--format", "xtc"});
    ASSERT_EQ(r.code, 0) << r.err;
    const ReadBook book = read_xtc(dir / "out" / "novel.xtc");
    ASSERT_EQ(book.pages.size(), 6u) << "five pages and one contents page";
    EXPECT_EQ(book.pages[0].width, 480);
    EXPECT_EQ(book.pages[0].height, 800);
    ASSERT_EQ(book.chapters.size(), 5u);
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(book.chapters[std::size_t(c)].name, "第" + std::to_string(c + 1) + "章");
        EXPECT_EQ(book.chapters[std::size_t(c)].first_page, c == 0 ? 1 : c + 2);
    }
    // The contents page has ink in its first line and in six lines below; an empty line does not.
    const auto& contents = book.pages[1];
    auto ink_in_line = [&](int line) {
        int ink = 0;
        for (int y = 4 + line * 22; y < 4 + line * 22 + 21; ++y)
            for (int x = 0; x < contents.width; ++x) ink += contents.grey[std::size_t(y * contents.width + x)] == 0;
        return ink;
    };
    for (int line = 0; line <= 5; ++line) EXPECT_GT(ink_in_line(line), 20) << line;
    EXPECT_EQ(ink_in_line(6), 0);
}

TEST_F(Books, ComicBooksHoldDecodablePagesInOrderAndTheirComicInfo) {
    write("novel.txt", chaptered_text({20, 20, 20}));
    for (const std::string format : {"png", "jpg"}) {
        Result r = run({"convert", "novel.txt", "--quiet", "-o", format, "--format", "cbz", "--page-format", format,
                        "--title", "书 & <名>", "--author", "作者"});
        ASSERT_EQ(r.code, 0) << r.err;
        const auto entries = pagiro::test::entries_of(dir / format / "书 & _名_.cbz");
        ASSERT_GE(entries.size(), 6u);
        const std::size_t pages = entries.size() - 1;
        for (std::size_t i = 0; i < pages; ++i) {
            char name[40];
            std::snprintf(name, sizeof name, "%04zu.%.3s", i + 1, format.c_str());
            EXPECT_EQ(entries[i].name, name);
            QBuffer buffer(const_cast<QByteArray*>(&entries[i].bytes));
            QImageReader reader(&buffer, format.c_str());
            EXPECT_EQ(reader.read().size(), QSize(480, 800)) << name << ": " << reader.errorString().toStdString();
        }
        ASSERT_EQ(entries.back().name, "ComicInfo.xml");
        auto fields = pagiro::test::comic_info_fields(entries.back().bytes);
        EXPECT_EQ(fields[QStringLiteral("Title")], QStringLiteral("书 & <名>"));
        EXPECT_EQ(fields[QStringLiteral("Writer")], QStringLiteral("作者"));
        EXPECT_EQ(fields[QStringLiteral("PageCount")], QString::number(pages));
    }
}

TEST_F(Books, ALibraryWritesABookPerTextAndReportsTheOneThatCannotBeRead) {
    write("A.txt", chaptered_text({10, 10}));
    fs::create_directories(dir / "B.txt");
    write("C.txt", chaptered_text({5}));
    // One book at a time, and side by side in processes of their own that share the folder.
    for (const std::string jobs : {"1", "3"}) {
        fs::remove_all(dir / "lib");
        fs::create_directories(dir / "lib");
        write("lib/.pagiro-tmp-0123456789abcdef", "what an interrupted run left");
        Result r = run({"convert", "A.txt", "B.txt", "C.txt", "-o", "lib", "--format", "xtch", "--jobs", jobs});
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(files(dir / "lib"), (std::set<std::string>{"A.xtch", "C.xtch"})) << jobs;
        EXPECT_EQ(read_xtc(dir / "lib" / "A.xtch").title, "A");
        EXPECT_EQ(read_xtc(dir / "lib" / "C.xtch").chapters.size(), 1u);
        std::size_t messages = 0;
        for (auto at = r.err.find("pagiro:"); at != std::string::npos; at = r.err.find("pagiro:", at + 1)) ++messages;
        EXPECT_EQ(messages, 1u) << r.err;
        EXPECT_NE(r.err.find("pagiro: cannot read B.txt: it is a folder"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("A.txt -> lib/A.xtch\n电子书生成完毕!"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("电子书文件：lib/C.xtch"), std::string::npos) << r.out;
    }
}

TEST_F(Books, AFailedOrStoppedRunLeavesNoBookAndKeepsAnOlderOne) {
    write("novel.txt", gbk_novel(300));
    in_child = [] {
        rlimit limit{3000000, 3000000};  // about 30 pages of 2 bits
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    Result r = run({"convert", "novel.txt", "--quiet", "-o", "out", "--format", "xtch"});
    in_child = nullptr;
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write the book out/novel.xtch"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(files(dir / "out").empty());
    EXPECT_EQ(temporaries(dir / "out"), 0u);

    // An empty text makes no book, and says why.
    write("empty.txt", "");
    r = run({"convert", "empty.txt", "--quiet", "-o", "out", "--format", "cbz"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("the text is empty and a book needs at least one page; out/empty.cbz was not written"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(files(dir / "out").empty());

    // Stopped while the book is being written: the older book of that name stays.
    write("long.txt", gbk_novel(20000));
    write("out/long.xtch", "an older book");
    pid_t pid = spawn({"convert", "long.txt", "-o", "out", "--format", "xtch"});
    for (int k = 0; k < 400 && temporaries(dir / "out") == 0; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    r = finish(pid);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_NE(r.err.find("the book was not written"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("共生成图片0张"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(dir / "out" / "long.xtch"), "an older book");
    EXPECT_EQ(files(dir / "out"), std::set<std::string>{"long.xtch"});
    EXPECT_EQ(temporaries(dir / "out"), 0u);
}

TEST_F(Books, TheXteinkPresetWritesABookAndBookOptionsAreCheckedAsUsage) {
    write("novel.txt", chaptered_text({3}));
    Result r = run({"convert", "novel.txt", "--quiet", "-o", "x4", "--device", "xteink-x4"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / "x4"), std::set<std::string>{"novel.xtch"});
    EXPECT_TRUE(read_xtc(dir / "x4" / "novel.xtch").two_bit);

    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--title", "T"}, "--title is for books; add --format xtc, xtch or cbz"},
        {{"--format", "xtch", "--page-format", "jpg"}, "--page-format is for cbz books"},
        {{"--format", "cbz", "--page-format", "gif"}, "--page-format must be png or jpg"},
        {{"--format", "xtc", "--toc", "--no-toc"}, "--toc and --no-toc cannot both be given"},
        {{"--format", "xtc", "--volume-pages", "10"}, "--volume-pages is for loose page files"},
        {{"--format", "xtch", "--prefix", "p"}, "--prefix is for loose page files"},
        {{"--format", "epub"}, "--format must be jpg, gif or bmp, or xtc, xtch or cbz for a book"},
    };
    for (auto& c : cases) {
        std::vector<std::string> args{"convert", "novel.txt", "-o", "bad"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        r = run(args);
        EXPECT_EQ(r.code, 2) << c.args[0];
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "bad")) << c.args[0];
    }
}
