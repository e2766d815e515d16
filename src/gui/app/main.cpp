#include "gui/app/KLTApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KLT"));
    QApplication::setDesktopFileName(QStringLiteral("klt"));

    CKLTApp app;
    if (!app.InitInstance()) {
        return app.ExitInstance();
    }
    const int exitCode = QApplication::exec();
    app.ExitInstance();
    return exitCode;
}
