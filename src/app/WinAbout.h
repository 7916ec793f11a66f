// The About box: product name, version and a link to the product page.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    TfrmAbout(QWidget* mainWindow, QString productName, QString versionText, QString productPage);

    void FormCreate();
    void FormShow();
    void btn1Click();

    QLabel* lblAppNameVer = nullptr;
    QLabel* lblLink = nullptr;
    QPushButton* btn1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* FMainWindow;
    QString FProductName, FVersionText, FProductPage;
};
