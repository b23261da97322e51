#include "summary.h"

namespace pagiro {

QStringList summary_lines(std::int64_t pictures, const QString& finished_at, long seconds) {
    return {QStringLiteral("电子书生成完毕!"),
            QStringLiteral("共生成图片") + QString::number(pictures) + QStringLiteral("张"),
            QStringLiteral("完成时间:") + finished_at + QStringLiteral(" 共耗时") + QString::number(seconds) +
                QStringLiteral("秒"),
            QStringLiteral("将生成的所有文件全部复制到手机的相簿目录里即可!")};
}

QString last_run_text(std::int64_t pictures) {
    return QStringLiteral("刚才生成了") + QString::number(pictures) + QStringLiteral("张图片!");
}

QStringList RunSummary::lines() const {
    QStringList l = summary_lines(pictures, finished_at, seconds);
    if (book)
        l.last() = books.isEmpty() ? QStringLiteral("生成已停止，电子书文件没有写入。")
                                   : QStringLiteral("电子书文件：") + books.join(QStringLiteral("、"));
    if (!stale.empty())
        l << QStringLiteral("输出目录里还留有以前生成的%1张图片（%2 至 %3），不属于这本电子书。")
                 .arg(stale.count())
                 .arg(stale.files.front().name, stale.files.back().name);
    return l;
}

QString RunProgress::title() const {
    return QStringLiteral("Pagiro电子书提示: 正在生成......") + file + QStringLiteral(" 大约完成") + percent + u'%';
}

QString RunProgress::status() const {
    return QStringLiteral("正在生成第 ") + QString::number(page) + QStringLiteral(" 张图片");
}

QString default_setting(Setting s) {
    for (const SettingDefault& d : kSettingDefaults)
        if (d.setting == s) return QString::fromUtf16(d.text);
    return QString();
}

}  // namespace pagiro
