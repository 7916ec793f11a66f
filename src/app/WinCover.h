// The cover window shown while the program starts.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

class TfrmCover : public QWidget {
    Q_OBJECT
public:
    // `mainWindow` is the window whose showing ends the cover.
    explicit TfrmCover(QWidget* mainWindow);

    void FormCreate();
    void FormShow();
    void tmr1Timer();

    const QImage& Picture() const { return FPicture; }
    QTimer* tmr1() { return &FTmr1; }

    // The built-in picture, 399 x 239.
    static QImage BuiltInPicture();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* FMainWindow;
    QImage FPicture;
    QTimer FTmr1;
};
