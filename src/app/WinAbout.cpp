#include "app/WinAbout.h"

#include "app/Skin.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

TfrmAbout::TfrmAbout(QWidget* mainWindow, QString productName, QString versionText,
                     QString productPage)
    : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), FMainWindow(mainWindow),
      FProductName(std::move(productName)), FVersionText(std::move(versionText)),
      FProductPage(std::move(productPage)) {
    setObjectName("frmAbout");
    FormCreate();
}

void TfrmAbout::FormCreate() {
    setFixedSize(340, 187);
    setWindowTitle("About");
    auto* icon = new QLabel(this);
    icon->setPixmap(skin::Pixmap("app", 48));
    icon->setGeometry(24, 40, 48, 48);
    lblAppNameVer = new QLabel(this);
    lblAppNameVer->setObjectName("lblAppNameVer");
    lblAppNameVer->setFont(skin::TitleFont(14));
    lblAppNameVer->setGeometry(88, 40, 240, 26);
    auto* line = new QLabel("Video and audio batch converter", this);
    line->setGeometry(88, 68, 240, 20);
    lblLink = new QLabel(this);
    lblLink->setObjectName("lblLink");
    lblLink->setOpenExternalLinks(true);
    lblLink->setGeometry(88, 96, 240, 20);
    btn1 = new QPushButton("&Ok", this);
    btn1->setObjectName("btn1");
    btn1->setGeometry(130, 142, 80, 28);
    connect(btn1, &QPushButton::clicked, this, &TfrmAbout::btn1Click);
}

void TfrmAbout::FormShow() {
    setStyleSheet(skin::StyleSheet());
    lblAppNameVer->setText(FProductName + FVersionText);
    lblLink->setText(QString("<a style=\"color:#9cc4ff\" href=\"%1\">%1</a>").arg(FProductPage));
    if (FMainWindow) move(FMainWindow->geometry().center() - rect().center());
}

void TfrmAbout::btn1Click() {
    accept();
}

void TfrmAbout::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmAbout::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), skin::Background());
    painter.fillRect(QRect(0, 0, width(), 26), skin::Band());
    painter.setPen(Qt::white);
    painter.drawText(QRect(10, 0, width() - 20, 26), Qt::AlignVCenter, "About " + FProductName);
    painter.setPen(skin::HotFrame());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
