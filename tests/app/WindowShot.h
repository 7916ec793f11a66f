// A picture of a shown window for looking at its layout.
#pragma once

#include <QImage>
#include <QStringList>
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

// The object names of the window's controls (buttons, edit boxes, spin
// boxes, sliders, views, group boxes) that have no accessible name.
inline QStringList UnnamedControls(QWidget& window) {
    QStringList unnamed;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        const bool control = child->inherits("QAbstractButton") || child->inherits("QLineEdit") ||
                             child->inherits("QAbstractSpinBox") ||
                             child->inherits("QAbstractSlider") ||
                             child->inherits("QAbstractItemView") || child->inherits("QGroupBox");
        // Parts of composite controls (the spin box's own edit box, the
        // view's scroll bars) are named through their owner.
        bool part = child->objectName().startsWith("qt_");
        for (QWidget* up = child->parentWidget(); up && up != &window; up = up->parentWidget())
            part = part || up->inherits("QAbstractScrollArea") || up->inherits("QAbstractSpinBox");
        if (control && !part && child->accessibleName().isEmpty()) unnamed << child->objectName();
    }
    return unnamed;
}
