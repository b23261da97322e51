#include "run_failure.h"

#include <new>

#include "platform/vb_error.h"

namespace pagiro {

RunFailure to_run_failure(std::exception_ptr error, FailedIn where) {
    const bool run = where == FailedIn::run;
    const QString zh = run ? QStringLiteral("生成失败：") : QStringLiteral("图片无法生成：");
    const QString en = run ? QStringLiteral("generation failed: ") : QStringLiteral("a page could not be made: ");
    try {
        std::rethrow_exception(error);
    } catch (const RunFailure& f) {
        return f;
    } catch (const VbError& e) {
        const QString d = QString::fromStdString(e.description());
        return RunFailure(zh + QStringLiteral("%1（错误 %2）").arg(d).arg(e.number()),
                          en + QStringLiteral("%1 (error %2)").arg(d).arg(e.number()));
    } catch (const std::bad_alloc&) {
        return RunFailure(zh + QStringLiteral("内存不足。"), en + QStringLiteral("out of memory"));
    } catch (const std::exception& e) {
        const QString d = QString::fromLocal8Bit(e.what());
        return RunFailure(zh + d, en + d);
    } catch (...) {
        return RunFailure(QStringLiteral("图片无法生成。"), QStringLiteral("a page could not be made"));
    }
}

}  // namespace pagiro
