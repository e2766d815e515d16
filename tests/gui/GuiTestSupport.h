#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <functional>

// Lets the event loop run until the condition holds or about ten seconds have passed (a
// generous bound for a loaded machine; nothing here measures speed).
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

// Runs the posted events, repaints included.
inline void Flush() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}
