#pragma once

#include <QApplication>

// The one QApplication of a GUI test binary, made on first use (gtest_main owns main()).
inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "klt-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
