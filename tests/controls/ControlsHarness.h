// What the control tests share: a host window shown and active and pictures
// of the controls, kept in $VANTREL_CONTROLS_SHOTS when it names a folder.
#pragma once

#include <QDir>
#include <QImage>
#include <QSet>
#include <QTest>
#include <QWidget>
#include <memory>

inline std::unique_ptr<QWidget> ShownHost(const QSize& size = QSize(400, 300)) {
    auto host = std::make_unique<QWidget>();
    host->resize(size);
    host->show();
    host->activateWindow();
    if (!QTest::qWaitForWindowActive(host.get())) return nullptr;
    return host;
}

inline QImage Shot(QWidget* widget, const QString& name) {
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString folder = qEnvironmentVariable("VANTREL_CONTROLS_SHOTS");
    if (!folder.isEmpty() && QDir(folder).exists())
        image.save(QDir(folder).filePath(name + ".png"));
    return image;
}

inline int ColourCount(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}
