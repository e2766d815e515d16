#include "gui/app/KLTApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KLT"));
    QApplication::setDesktopFileName(QStringLiteral("klt"));

    CKLTApp app;
    if (!app.InitInstance(QApplication::arguments())) {
        app.ExitInstance();
        return app.ExitCode();
    }
    const int exitCode = QApplication::exec();
    app.ExitInstance();
    return exitCode;
}
