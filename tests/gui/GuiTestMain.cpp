#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// GUI tests drive real widgets, so they need an application object; listing the tests (done
// at build time, without a display) needs none.
int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    // The app keeps an unsaved reception in the user's state folder and removes it when the
    // history is saved or given up: tests must never touch the developer's own.
    QTemporaryDir stateHome;
    if (!stateHome.isValid()) {
        return 1;
    }
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome.path()));
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
