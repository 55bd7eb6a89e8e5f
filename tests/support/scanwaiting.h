#pragma once

#include "window/frmmain.h"

#include <QEventLoop>
#include <QTimer>

// Handles events until the window's scan has ended; false when it has not after a minute.
inline bool waitForScan(orvantis::frmMain &window) {
    if (window.isScanning()) {
        QEventLoop loop;
        QObject::connect(&window, &orvantis::frmMain::scanFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return !window.isScanning();
}

// Form_Load, and the first scan to its end.
inline bool loadAndWait(orvantis::frmMain &window) {
    return window.Form_Load() && waitForScan(window);
}

// Refresh, and its scan to its end.
inline bool refreshAndWait(orvantis::frmMain &window) {
    window.Command1_Click();
    return waitForScan(window);
}
