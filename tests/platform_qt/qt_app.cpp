#include "qt_app.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QGuiApplication>
#include <memory>

namespace pagiro::test {
namespace {

// Text drawing needs a GUI application; tests run on the offscreen platform.
class QtApplication : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "platform_qt_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QGuiApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace

QString cjk_family() {
    const QStringList all = QFontDatabase::families();
    if (all.contains(QStringLiteral("AR PL UMing CN"))) return QStringLiteral("AR PL UMing CN");
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? QString() : chinese.first();
}

std::set<unsigned> colours_of(const QImage& image) {
    std::set<unsigned> found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) found.insert(image.pixel(x, y) & 0xFFFFFF);
    return found;
}

QRect ink_box(const QImage& image, QRgb background) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != (background & 0xFFFFFF)) box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace pagiro::test
