// A picture of a shown window for looking at its layout.
#pragma once

#include <QImage>
#include <QTest>
#include <QWidget>
#include <string>

// Grabs the window and saves it as NAME.png into the folder named by
// VANTREL_SCREENSHOTS when that is set.
inline void SaveShot(QWidget& window, const std::string& name) {
    const QString folder = qEnvironmentVariable("VANTREL_SCREENSHOTS");
    const QImage picture = window.grab().toImage();
    QVERIFY(!picture.isNull());
    if (!folder.isEmpty()) picture.save(folder + "/" + QString::fromStdString(name) + ".png");
}
