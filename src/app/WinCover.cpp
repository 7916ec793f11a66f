#include "app/WinCover.h"

#include "app/JpegIO.h"
#include "app/Skin.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

TfrmCover::TfrmCover(QWidget* mainWindow)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::SplashScreen | Qt::WindowStaysOnTopHint),
      FMainWindow(mainWindow) {
    setObjectName("frmCover");
    setAttribute(Qt::WA_DeleteOnClose, false);
    FormCreate();
}

QImage TfrmCover::BuiltInPicture() {
    QImage image(399, 239, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, image.height());
    gradient.setColorAt(0, QColor(44, 86, 140));
    gradient.setColorAt(1, skin::Background());
    painter.fillRect(image.rect(), gradient);
    painter.drawPixmap(28, 62, skin::Pixmap("app", 84));
    painter.setPen(Qt::white);
    painter.setFont(skin::TitleFont(30));
    painter.drawText(QRect(130, 64, 260, 50), Qt::AlignLeft | Qt::AlignVCenter, "Vantrel");
    QFont small("Arial", 11);
    painter.setFont(small);
    painter.setPen(QColor(210, 222, 238));
    painter.drawText(QRect(132, 112, 260, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     "Video and audio batch converter");
    painter.setPen(QColor(150, 172, 200));
    painter.setFont(QFont("Arial", 9));
    painter.drawText(QRect(0, 205, 385, 20), Qt::AlignRight | Qt::AlignVCenter, "Starting...");
    painter.setPen(skin::Accent());
    painter.drawLine(28, 160, 371, 160);
    return image;
}

void TfrmCover::FormCreate() {
    resize(399, 239);
    FPicture = BuiltInPicture();
    const QString file =
        QDir(QCoreApplication::applicationDirPath()).filePath("skin/vantrelcover.jpg");
    QImage fromFile = ReadJpegFile(file.toStdString());
    if (!fromFile.isNull()) FPicture = fromFile;
    FTmr1.setInterval(2000);
    connect(&FTmr1, &QTimer::timeout, this, &TfrmCover::tmr1Timer);
}

void TfrmCover::FormShow() {
    resize(FPicture.size());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    raise();
    FTmr1.start();
}

void TfrmCover::tmr1Timer() {
    if (FMainWindow && FMainWindow->isVisible()) {
        FTmr1.stop();
        hide();
    }
}

void TfrmCover::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

void TfrmCover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, FPicture);
}
