#include "tooltips.h"

#include <QComboBox>
#include <QWidget>
#include <array>

namespace pagiro {
namespace {

struct ControlTip {
    const char* name;
    const char16_t* tip;
};

// In the order the window creates its controls.
constexpr std::array kTips{
    ControlTip{"outcjg", u"正在绘制的这一页的文字"},
    ControlTip{"zdfj1", u"每个文件夹放多少张图片"},
    ControlTip{"zdfj", u"把图片按页数分到“分卷1”“分卷2”……文件夹里"},
    ControlTip{"v_tpks", u"图片格式"},
    ControlTip{"gentp", u"页面绘制区"},
    ControlTip{"c_mlr", u"选择图片保存到哪个文件夹"},
    ControlTip{"c_ml", u"图片保存的文件夹，可以直接输入"},
    ControlTip{"Frame1", u"保存位置、格式和开始按钮"},
    ControlTip{"startok", u"开始生成图片；生成时再按一次停止"},
    ControlTip{"c_bjtpr", u"选择一张图片作为每页的背景；取消则不用背景图片"},
    ControlTip{"c_bjtp", u"背景图片的路径"},
    ControlTip{"c_bjcolor", u"背景颜色，双击选择"},
    ControlTip{"c_wzcolor", u"文字颜色，双击选择"},
    ControlTip{"c_fontsize", u"字号（磅），可以选择或输入"},
    ControlTip{"c_font", u"字体"},
    ControlTip{"c_tg", u"图片高度（像素）"},
    ControlTip{"c_tk", u"图片宽度（像素）"},
    ControlTip{"c_qm", u"第一张图片的编号"},
    ControlTip{"c_fjqz", u"图片文件名开头的文字"},
    ControlTip{"qckh", u"连续的空行只保留一行"},
    ControlTip{"sf_read", u"选择一个文本文件，把它的内容读到上面的文本框里"},
    ControlTip{"sf_file", u"读取的文本文件；也可以把文件拖到窗口上读取"},
    ControlTip{"s_text", u"要做成电子书的文字：输入、粘贴，或把文本文件拖到窗口上"},
    ControlTip{"Label10", u"关于本程序"},
    ControlTip{"v_2", u"运行状态；双击查看上次生成了多少张图片"},
    ControlTip{"v_1", u"按现在的设置估计的页数"},
    ControlTip{"Label9", u"背景颜色，双击右边的色块选择"},
    ControlTip{"Label8", u"文字颜色，双击右边的色块选择"},
    ControlTip{"Label7", u"字体和字号"},
    ControlTip{"Label4", u"图片高度（像素）"},
    ControlTip{"Label5", u"图片宽度（像素）"},
    ControlTip{"Label3", u"每张图片的宽和高（像素）"},
    ControlTip{"Label2", u"第一张图片的编号"},
    ControlTip{"Label1", u"图片文件名开头的文字"},
    ControlTip{"Label6", u"默认大小：宽128像素，高110像素"},
};

}  // namespace

QString control_tooltip(QStringView name) {
    for (const ControlTip& t : kTips)
        if (name == QLatin1String(t.name)) return QString::fromUtf16(t.tip);
    return QString();
}

void set_control_tooltips(QWidget* window) {
    for (const ControlTip& t : kTips)
        if (auto* w = window->findChild<QWidget*>(QLatin1String(t.name))) w->setToolTip(QString::fromUtf16(t.tip));
    // The closed font box is too narrow for many family names: its hint names the
    // chosen one whole.
    if (auto* fonts = window->findChild<QComboBox*>(QStringLiteral("c_font"))) {
        auto name_font = [fonts](const QString& family) {
            const QString base = control_tooltip(u"c_font");
            fonts->setToolTip(family.isEmpty() ? base : base + QStringLiteral("：") + family);
        };
        name_font(fonts->currentText());
        QObject::connect(fonts, &QComboBox::currentTextChanged, fonts, name_font);
    }
}

}  // namespace pagiro
