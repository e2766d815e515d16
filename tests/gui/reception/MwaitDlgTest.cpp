#include "gui/reception/MwaitDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

int RunWaitDialog(CMwaitDlg& dlg, const std::function<void()>& action) {
    QTimer::singleShot(0, &dlg, action);
    QTimer::singleShot(10000, &dlg, [&dlg] { dlg.EndDialog(-1); });
    return dlg.DoModal();
}

} // namespace

TEST(MwaitDlg, ShowsThePromptAndEndsWithTheValueGiven) {
    CMwaitDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "KLT");
    EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("prompt"))->text(),
              QString::fromUtf8("「M」ボタンを押して下さい。\n(30秒でタイムアウトします。)"));
    EXPECT_EQ(dlg.findChild<QPushButton*>(QStringLiteral("cancelButton"))->text(),
              QString::fromUtf8("キャンセル"));
    // The same object serves every reception.
    EXPECT_EQ(RunWaitDialog(dlg, [&] { dlg.EndDialog(1); }), 1);
    EXPECT_EQ(RunWaitDialog(dlg, [&] { dlg.EndDialog(0); }), 0);
}

TEST(MwaitDlg, UserEndsItOnlyAsCancelled) {
    CMwaitDlg dlg;
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"cancel button",
         [&] {
             QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("cancelButton")),
                               Qt::LeftButton);
         }},
        {"escape", [&] { QTest::keyClick(&dlg, Qt::Key_Escape); }},
        {"close box", [&] { dlg.close(); }},
        // Enter must never pass for the marker (1): it presses Cancel, the only button.
        {"enter", [&] { QTest::keyClick(&dlg, Qt::Key_Return); }},
    };
    for (const auto& [name, way] : ways) {
        EXPECT_EQ(RunWaitDialog(dlg, way), 2) << name;
    }
}
