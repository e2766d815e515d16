#include <QApplication>

#include <gtest/gtest.h>

// GUI tests drive real widgets, so they need an application object; listing the tests (done
// at build time, without a display) needs none.
int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
