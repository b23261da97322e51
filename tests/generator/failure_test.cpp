#include <gtest/gtest.h>

#include "generator/run_failure.h"
#include "platform/vb_error.h"

using namespace pagiro;

namespace {

template <class E>
RunFailure said(const E& error, FailedIn where) {
    return to_run_failure(std::make_exception_ptr(error), where);
}

}  // namespace

TEST(Failures, EachErrorIsToldOnceInBothLanguages) {
    const RunFailure own("自己的", "our own");
    EXPECT_EQ(said(own, FailedIn::page).chinese, "自己的");
    EXPECT_EQ(said(own, FailedIn::run).english, "our own");

    const VbError disk(75, "Path/File access error");
    EXPECT_EQ(said(disk, FailedIn::run).chinese, "生成失败：Path/File access error（错误 75）");
    EXPECT_EQ(said(disk, FailedIn::run).english, "generation failed: Path/File access error (error 75)");
    EXPECT_EQ(said(disk, FailedIn::page).chinese, "图片无法生成：Path/File access error（错误 75）");
    EXPECT_EQ(said(disk, FailedIn::page).english, "a page could not be made: Path/File access error (error 75)");

    // An overflow is named by its number alone, on either path: only the page
    // counter's own failure speaks of page numbers.
    EXPECT_EQ(said(VbError::overflow(), FailedIn::run).chinese, "生成失败：Overflow（错误 6）");
    EXPECT_FALSE(said(VbError::overflow(), FailedIn::run).english.contains("32767"));
    EXPECT_EQ(said(VbError::overflow(), FailedIn::page).english, "a page could not be made: Overflow (error 6)");

    EXPECT_EQ(said(std::runtime_error("disk gone"), FailedIn::run).english, "generation failed: disk gone");
    EXPECT_EQ(said(42, FailedIn::page).english, "a page could not be made");
}
