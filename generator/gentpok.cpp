#include "gentpok.h"

#include <cmath>

#include "generator/estimate.h"
#include "generator/page_pipeline.h"
#include "generator/page_writer.h"
#include "generator/run_state.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/numbers.h"
#include "platform/pump.h"
#include "platform/vb_error.h"

namespace pagiro {
namespace {

std::u16string_view view(const QString& s) { return {reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size())}; }

const QString kSep = QString(QChar(path_separator));

QString whole(double v) { return QString::number(v, 'f', 0); }

// The percentage rounded to two decimals (halves to even), in its shortest form.
QString percent_text(double pct) {
    double r = std::nearbyint(pct * 100) / 100;
    QString s = QString::number(r, 'f', 2);
    while (s.endsWith(u'0')) s.chop(1);
    if (s.endsWith(u'.')) s.chop(1);
    if (s == u"-0") s = QStringLiteral("0");
    return s;
}

struct SettingName {
    Setting setting;
    const char16_t* zh;
    const char* en;
};

constexpr SettingName kSettingNames[] = {
    {Setting::c_tk, u"图片宽度", "page width"},
    {Setting::c_tg, u"图片高度", "page height"},
    {Setting::c_fontsize, u"字体大小", "font size"},
    {Setting::c_bjcolor, u"背景颜色", "background colour"},
    {Setting::c_wzcolor, u"文字颜色", "text colour"},
    {Setting::c_qm, u"页码初始值", "first page number"},
    {Setting::zdfj1, u"分卷页数", "pages per volume"},
};

RunFailure not_a_number(Setting s, const QString& value) {
    for (const auto& n : kSettingNames) {
        if (n.setting == s)
            return RunFailure(QStringLiteral("设置“%1”不是有效的数字：“%2”").arg(QString::fromUtf16(n.zh), value),
                              QStringLiteral("the %1 \"%2\" is not a number").arg(QLatin1String(n.en), value));
    }
    return RunFailure(QStringLiteral("设置不是有效的数字：“%1”").arg(value),
                      QStringLiteral("\"%1\" is not a number").arg(value));
}

double number_of(Setting s, const QString& value) {
    if (!is_numeric(view(value))) throw not_a_number(s, value);
    return text_to_double(view(value));
}

RunFailure page_number_overflow() {
    return RunFailure(QStringLiteral("页码超过了32767，无法继续生成。已生成的图片都已保存。"),
                      QStringLiteral("page numbers cannot go past 32767; the pages up to 32767 were written"));
}

}  // namespace

bool prefix_is_safe(const QString& prefix) {
    for (QChar c : prefix) {
        if (c.unicode() < 0x20 || c == u'\x7F') return false;
        if (QStringView(u"/\\:*?\"<>|").contains(c)) return false;
    }
    return true;
}

QString default_setting(Setting s) {
    switch (s) {
    case Setting::s_text: return QStringLiteral("请输入要转换成电子书的文本\r\n");
    case Setting::c_fjqz: return QStringLiteral("kbwm");
    case Setting::c_qm: return QStringLiteral("1");
    case Setting::c_tk: return QStringLiteral("128");
    case Setting::c_tg: return QStringLiteral("110");
    case Setting::c_font: return QStringLiteral("宋体");
    case Setting::c_fontsize: return QStringLiteral("9");
    case Setting::c_wzcolor: return QStringLiteral("0");
    case Setting::c_bjcolor: return QStringLiteral("16777215");
    case Setting::c_bjtp: return QString();
    case Setting::c_ml: return QString();
    case Setting::v_tpks: return QStringLiteral(".gif");
    case Setting::zdfj1: return QStringLiteral("1");
    }
    return QString();
}

bool start_or_stop(RunHost& host, const std::function<void()>& started) {
    if (mk::runflag != 0) {
        mk::runflag = 0;
        return false;
    }
    mk::hasrun = -1;
    mk::runflag = -1;
    if (started) started();
    gentpok generator(host);
    generator.rtext();
    return true;
}

gentpok::gentpok(RunHost& host) : host_(host) {}
gentpok::~gentpok() = default;

void gentpok::rtext() {
    mk::starttime = timer_seconds();
    host_.playandstop(false);
    auto fail = [this](const QString& zh, const QString& en) {
        mk::runflag = 0;
        if (!host_.abandoned()) host_.run_failed(zh, en);
    };
    try {
        const QString prefix = host_.text(Setting::c_fjqz);
        if (!prefix_is_safe(prefix))
            throw RunFailure(QStringLiteral("文件名前缀“%1”不能含有 \\ / : * ? \" < > | 或控制字符。").arg(prefix),
                             QStringLiteral("the file-name prefix \"%1\" must not hold \\ / : * ? \" < > | or control "
                                            "characters")
                                 .arg(prefix));
        chkpath(host_.text(Setting::c_ml));
        QString x = host_.text(Setting::c_tk);
        QString y = host_.text(Setting::c_tg);
        QString bc = host_.text(Setting::c_bjcolor);
        QString fc = host_.text(Setting::c_wzcolor);
        QString fc_bc = host_.text(Setting::c_bjcolor);
        QString text = host_.text(Setting::s_text);
        QString font = host_.text(Setting::c_font);
        QString size = host_.text(Setting::c_fontsize);
        wjpg(x, y, bc, fc, fc_bc, text, font, size);
    } catch (const RunFailure& f) {
        fail(f.chinese, f.english);
    } catch (const VbError& e) {
        if (e.number() == 6)
            fail(page_number_overflow().chinese, page_number_overflow().english);
        else
            fail(QStringLiteral("生成失败：%1（错误 %2）").arg(QString::fromStdString(e.description())).arg(e.number()),
                 QStringLiteral("generation failed: %1 (error %2)")
                     .arg(QString::fromStdString(e.description()))
                     .arg(e.number()));
    } catch (const std::exception& e) {
        fail(QStringLiteral("生成失败：%1").arg(QString::fromLocal8Bit(e.what())),
             QStringLiteral("generation failed: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void gentpok::chkpath(const QString& cs) {
    if (cs.trimmed().isEmpty())
        throw RunFailure(QStringLiteral("没有指定输出目录。"), QStringLiteral("no output folder was given"));
    try {
        create_folder(std::filesystem::path(cs.toStdString()));
    } catch (const FolderError& e) {
        QString zh_reason, en_reason;
        switch (e.reason) {
        case FolderError::Reason::ParentMissing:
            zh_reason = QStringLiteral("上级目录不存在");
            en_reason = QStringLiteral("its parent folder does not exist");
            break;
        case FolderError::Reason::NotAFolder:
            zh_reason = QStringLiteral("已有同名的文件");
            en_reason = QStringLiteral("a file of that name is in the way");
            break;
        case FolderError::Reason::Denied:
            zh_reason = QStringLiteral("没有写入权限");
            en_reason = QStringLiteral("permission denied");
            break;
        case FolderError::Reason::Other:
            zh_reason = QString::fromLocal8Bit(e.what());
            en_reason = zh_reason;
            break;
        }
        throw RunFailure(QStringLiteral("输出目录无法创建：%1（%2）").arg(cs, zh_reason),
                         QStringLiteral("cannot create the output folder %1: %2").arg(cs, en_reason));
    }
}

void gentpok::check_settings(const QString& x, const QString& y, const QString& c_bc, const QString& c_fc,
                             const QString& t_size) {
    double w = number_of(Setting::c_tk, x);
    double h = number_of(Setting::c_tg, y);
    double s = number_of(Setting::c_fontsize, t_size);
    for (auto [setting, value] : {std::pair{Setting::c_bjcolor, c_bc}, std::pair{Setting::c_wzcolor, c_fc}}) {
        double c = number_of(setting, value);
        if (c < -2147483648.5 || c >= 2147483647.5) throw not_a_number(setting, value);
    }
    if (host_.checked(Check::zdfj)) {
        double per_volume = number_of(Setting::zdfj1, host_.text(Setting::zdfj1));
        if (per_volume < 1)
            throw RunFailure(QStringLiteral("分卷页数至少为1。"), QStringLiteral("pages per volume must be at least 1"));
    }
    PageGeometry g = page_geometry(w, h, s);
    if (s == 0)
        throw RunFailure(QStringLiteral("字体大小为0，无法排版。"), QStringLiteral("the font size is 0"));
    if (!g.fits())
        throw RunFailure(
            QStringLiteral("页面放不下文字：%1×%2像素的页面上，%3磅的字连一行或一个字都放不下。").arg(x, y, t_size),
            QStringLiteral("not one line or column of %3 pt text fits on a %1 x %2 page").arg(x, y, t_size));
}

void gentpok::wjpg(const QString& x, const QString& y, const QString& c_bc, const QString& c_fc,
                   const QString& c_fc_bc, const QString& c_text, const QString& t_font, const QString& t_size) {
    const QString text = c_text;
    const std::u16string_view chars = view(text);
    const auto length = static_cast<std::int64_t>(chars.size());

    const QString first = host_.text(Setting::c_qm);
    try {
        mk::pageno = to_i16(number_of(Setting::c_qm, first));
    } catch (const VbError&) {
        throw RunFailure(QStringLiteral("页码初始值超出范围（最大32767）：%1").arg(first),
                         QStringLiteral("the first page number %1 is out of range (at most 32767)").arg(first));
    }
    check_settings(x, y, c_bc, c_fc, t_size);
    const PageGeometry g = page_geometry(text_to_double(view(x)), text_to_double(view(y)), text_to_double(view(t_size)));
    std::int32_t i = 1;
    run_estimate_ = estpages(host_.text(Setting::c_tg), host_.text(Setting::c_fontsize), host_.text(Setting::c_tk),
                             host_.source_length());
    in_run_ = true;
    struct EndOfRun {
        bool& flag;
        ~EndOfRun() { flag = false; }
    } end_of_run{in_run_};

    const QString format = host_.text(Setting::v_tpks);
    const bool gif_path = format != u".bmp" && format != u".jpg";
    std::optional<PagePipeline> pipeline;
    std::unique_ptr<PageWriter> writer;
    if (length > 0) {
        pipeline.emplace();
        WriterSettings ws{x, y, c_bc, c_fc, c_fc_bc, gif_path ? t_font : host_.text(Setting::c_font),
                          gif_path ? t_size : host_.text(Setting::c_fontsize), host_.text(Setting::c_bjtp)};
        writer = make_page_writer(format, ws, *pipeline);
    }

    auto running = [] { return mk::runflag != 0; };
    auto pump_once = [] { pump(); };
    std::u16string line;
    QString page_text;
    while (i <= length && mk::runflag != 0) {
        if (gif_path) {
            showstat();
            pump();
        } else {
            pump();
        }
        writer->begin_page();
        double n = 0;
        page_text.clear();
        host_.set_page_text(page_text);
        while (n < g.lpp && i <= length && mk::runflag != 0) {
            if (!gif_path) showstat();
            pump();
            build_line(chars, i, g.cpl, line, running, pump_once);
            if (line.empty() && host_.checked(Check::qckh)) continue;
            QString q = QString::fromUtf16(line.data(), static_cast<qsizetype>(line.size()));
            writer->draw_line(g.line_top(static_cast<int>(n)), q);
            page_text += q;
            host_.set_page_text(page_text);
            n += 1;
        }
        if (host_.abandoned()) return;
        writer->write_page([this] { return getfname(mk::pageno); });
        mk::pageno += 1;
    }
    // Every page handed over is on disk before the summary counts it.
    if (pipeline) pipeline->finish();
    if (host_.abandoned()) return;
    host_.ts();
}

std::optional<double> gentpok::estimate() const {
    if (in_run_) return run_estimate_;
    return estpages(host_.text(Setting::c_tg), host_.text(Setting::c_fontsize), host_.text(Setting::c_tk),
                    host_.source_length());
}

QString gentpok::getfname(double& p) {
    try {
        p = to_i16(p);
    } catch (const VbError&) {
        throw page_number_overflow();
    }
    mk::pageno = p;
    if (in_run_ && p == named_page_) {
        pump();
        return named_path_;
    }
    const QString folder_root = host_.text(Setting::c_ml);
    QString base;
    if (host_.checked(Check::zdfj)) {
        double first = to_i16(number_of(Setting::c_qm, host_.text(Setting::c_qm)));
        double per_volume = number_of(Setting::zdfj1, host_.text(Setting::zdfj1));
        double v = std::floor((mk::pageno - first) / per_volume) + 1;
        QString folder = folder_root + kSep + QStringLiteral("分卷") + whole(v);
        chkpath(folder);
        base = folder + kSep + host_.text(Setting::c_fjqz);
    } else {
        base = folder_root + kSep + host_.text(Setting::c_fjqz);
    }
    auto est = estimate();
    if (!est) throw RunFailure(QStringLiteral("页面放不下文字。"), QStringLiteral("no text fits on the page"));
    qsizetype w = std::max<qsizetype>(whole(*est).size(), 6);
    const QString number = whole(p);
    for (qsizetype k = 1; k <= w - number.size(); ++k) base += u'0';
    QString result = base + number + host_.text(Setting::v_tpks);
    if (in_run_) {
        named_page_ = p;
        named_path_ = result;
    }
    pump();
    return result;
}

void gentpok::showstat() {
    if (in_run_ && mk::pageno == shown_page_) {
        // Same page, same texts; the file-name computation still pumps once.
        getfname(mk::pageno);
        return;
    }
    auto est = estimate();
    if (!est) throw RunFailure(QStringLiteral("页面放不下文字。"), QStringLiteral("no text fits on the page"));
    double estimate = *est == 0 ? 1 : *est;
    double first = number_of(Setting::c_qm, host_.text(Setting::c_qm));
    double pct = std::nearbyint((mk::pageno - first) / estimate * 100 * 100) / 100;
    if (pct >= 100) pct = 100;
    const QString pct_text = percent_text(pct);
    const QString path = getfname(mk::pageno);
    QString shown = path;
    shown.remove(host_.text(Setting::c_ml) + kSep);
    host_.set_title(QStringLiteral("Pagiro电子书提示: 正在生成......") + shown + QStringLiteral(" 大约完成") + pct_text +
                    u'%');
    host_.set_status(QStringLiteral("正在生成第 ") + whole(mk::pageno) + QStringLiteral(" 张图片"));
    host_.progress(mk::pageno, pct_text, shown);
    if (in_run_) shown_page_ = mk::pageno;
}

}  // namespace pagiro
