#include "editing/WaterMarkControls.h"

#include "app/PlayerSurface.h"
#include "controls/NamedWidget.h"
#include "controls/Tracker2.h"
#include "editing/FrameRenderer.h"
#include "editing/WinWaterMark.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontComboBox>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>
#include <tuple>
#include <utility>

namespace {

constexpr int kCheckerSquare = 13;

QLabel* Caption(const QString& text, QWidget* parent, int x, int y, int w = 120) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, 22);
    return label;
}

QLineEdit* ReadOnlyEdit(const char* name, const QString& accessible, QWidget* parent) {
    auto* edit = Named(new QLineEdit(parent), name, accessible);
    edit->setReadOnly(true);
    return edit;
}

QPixmap Swatch(const QColor& colour) {
    QPixmap pixmap(14, 14);
    pixmap.fill(colour);
    return pixmap;
}

QComboBox* ColorBox(const char* name, const QString& accessible, QWidget* parent) {
    auto* box = Named(new QComboBox(parent), name, accessible);
    for (const auto& [caption, colour] : WmColorBoxColors())
        box->addItem(QIcon(Swatch(ResolveColor(colour))), caption, QVariant::fromValue(colour));
    return box;
}

QSlider* PositionSlider(const char* name, const QString& accessible, QWidget* parent) {
    auto* slider = Named(new QSlider(Qt::Horizontal, parent), name, accessible);
    slider->setRange(0, 100);
    return slider;
}

QToolButton* ArrowButton(const char* name, Qt::ArrowType arrow, const QString& accessible,
                         QWidget* parent) {
    auto* button = Named(new QToolButton(parent), name, accessible);
    button->setArrowType(arrow);
    button->setToolTip(accessible);
    return button;
}

// The background stage: a checkerboard around (and under) the picture.
class TCheckerView : public QGraphicsView {
public:
    using QGraphicsView::QGraphicsView;

protected:
    void drawBackground(QPainter* painter, const QRectF&) override {
        painter->save();
        painter->resetTransform();
        const QRect area = viewport()->rect();
        for (int y = 0; y < area.height(); y += kCheckerSquare)
            for (int x = 0; x < area.width(); x += kCheckerSquare) {
                const bool same = (x / kCheckerSquare) % 2 == (y / kCheckerSquare) % 2;
                painter->fillRect(x, y, kCheckerSquare, kCheckerSquare,
                                  same ? QColor(176, 176, 176) : QColor(Qt::white));
            }
        painter->restore();
    }
};

} // namespace

void TWaterMarkControls::CreateViewSide() {
    TfrmWaterMark& w = FWindow;
    w.lblTitle = Named(new QLabel("Watermark", &w), "lblTitle", "Watermark");
    w.lblTitle->setGeometry(10, 6, 300, 24);
    w.btnClose = Named(new QToolButton(&w), "btnClose", "Close");
    w.btnClose->setText("X");
    w.btnClose->setToolTip("Close");
    w.btnClose->setGeometry(968, 6, 24, 22);
    CreateView();
    CreatePlayerControls();
}

void TWaterMarkControls::CreateLayerSide() {
    CreateLayerControls();
    CreateTimeControls();
    CreateFontControls();
    CreateButtons();
    MakeOkTheDefaultButton();
}

void TWaterMarkControls::CreateButtons() {
    TfrmWaterMark& w = FWindow;
    w.btnOk = Named(new QPushButton("Ok", &w), "btnOk", "Ok");
    w.btnOk->setGeometry(700, 520, 90, 28);
    w.btnCancel = Named(new QPushButton("Cancel", &w), "btnCancel", "Cancel");
    w.btnCancel->setGeometry(800, 520, 90, 28);
    w.btnHelp = Named(new QPushButton("&Help", &w), "btnHelp", "Help");
    w.btnHelp->setGeometry(900, 520, 90, 28);
    // The drop-down lists of the boxes are named after their boxes.
    for (QComboBox* box : w.findChildren<QComboBox*>())
        box->view()->setAccessibleName(box->accessibleName());
}

void TWaterMarkControls::CreateView() {
    TfrmWaterMark& w = FWindow;
    w.FScene = new QGraphicsScene(&w);
    w.ImgView = Named(new TCheckerView(w.FScene, &w), "ImgView", "Picture");
    w.ImgView->setGeometry(10, 36, 592, 427);
    w.ImgView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    w.ImgView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    w.ImgView->setFrameShape(QFrame::NoFrame);
    w.ImgView->viewport()->installEventFilter(&w);
    w.FBackground = w.FScene->addPixmap(QPixmap());
    w.FBackground->setZValue(-1);
    w.FScene->setSceneRect(0, 0, 100, 100);
    w.imgPreview = Named(new TPlayerSurface(&w), "imgPreview", "Player picture");
    w.imgPreview->setGeometry(10, 36, 592, 427);
    w.imgPreview->hide();
}

void TWaterMarkControls::CreatePlayerControls() {
    TfrmWaterMark& w = FWindow;
    w.imgbtnPlay = Named(new QToolButton(&w), "imgbtnPlay", "Play");
    w.imgbtnPlay->setText("Play");
    w.imgbtnPlay->setToolTip("Play");
    w.imgbtnPlay->setGeometry(10, 470, 44, 24);
    w.imgbtnpause = Named(new QToolButton(&w), "imgbtnpause", "Pause");
    w.imgbtnpause->setText("Pause");
    w.imgbtnpause->setToolTip("Pause");
    w.imgbtnpause->setGeometry(58, 470, 44, 24);
    w.imgbtnPlay->setEnabled(false);
    w.imgbtnpause->setEnabled(false);
    w.trcPreview = Named(new TTrackBar2(&w), "trcPreview", "Position");
    w.trcPreview->setToolTip("Position");
    w.trcPreview->setGeometry(108, 472, 350, 20);
    w.trcPreview->SetMax(100);
    w.trcPreview->setEnabled(false);
    w.lblTime = Named(new QLabel("0:00:00", &w), "lblTime", "Current time");
    w.lblTime->setGeometry(466, 470, 60, 24);
    w.lblPTS = Named(new QLabel("0:00:00", &w), "lblPTS", "Total time");
    w.lblPTS->setGeometry(530, 470, 70, 24);
}

void TWaterMarkControls::CreateLayerControls() {
    TfrmWaterMark& w = FWindow;
    const std::pair<QPushButton**, const char*> buttons[] = {{&w.btnAddText, "Add Text"},
                                                             {&w.btnAddImage, "Add Image"},
                                                             {&w.btnDelete, "Delete"},
                                                             {&w.btnUp, "Up"},
                                                             {&w.btnDown, "Down"}};
    const char* names[] = {"btnAddText", "btnAddImage", "btnDelete", "btnUp", "btnDown"};
    int x = 615;
    for (int i = 0; i < 5; ++i) {
        *buttons[i].first =
            Named(new QPushButton(buttons[i].second, &w), names[i], buttons[i].second);
        (*buttons[i].first)->setGeometry(x, 36, i < 2 ? 84 : 64, 26);
        x += (i < 2 ? 84 : 64) + 6;
    }
    w.lsbox = Named(new QListWidget(&w), "lsbox", "Layers");
    w.lsbox->setGeometry(615, 68, 375, 110);
    w.lsbox->setItemDelegate(new TWmListDelegate(w.lsbox));
    w.edt1 = Named(new QLineEdit(w.lsbox), "edt1", "Layer text");
    w.edt1->hide();
    w.edt1->installEventFilter(&w);
    const std::tuple<QSlider**, QLineEdit**, const char*, const char*, const char*> rows[] = {
        {&w.trcTextHoriz, &w.edtTextHoriz, "trcTextHoriz", "edtTextHoriz", "Horizontal Position:"},
        {&w.trcTextVert, &w.edtTextVert, "trcTextVert", "edtTextVert", "Vertical Position:"},
        {&w.trcTextTran, &w.edtTextTran, "trcTextTran", "edtTextTran", "Transparency:"}};
    int y = 186;
    for (const auto& [slider, edit, sliderName, editName, caption] : rows) {
        Caption(caption, &w, 615, y, 130);
        *slider = PositionSlider(sliderName, caption, &w);
        (*slider)->setGeometry(745, y, 185, 22);
        *edit = ReadOnlyEdit(editName, caption, &w);
        (*edit)->setGeometry(936, y, 54, 22);
        y += 28;
    }
    w.trcTextTran->setRange(0, 255);
}

void TWaterMarkControls::CreateTimeControls() {
    TfrmWaterMark& w = FWindow;
    w.trcRange = Named(new TTrackBar2(&w), "trcRange", "Time range");
    w.trcRange->setToolTip("Time range");
    w.trcRange->SetSecondThumb(true);
    w.trcRange->setGeometry(615, 272, 375, 26);
    // One end of the range: its caption, its time box and the arrows that
    // move it later and earlier.
    const auto rangeEnd = [&w](int x, const char* caption, const char* what,
                               std::pair<const char*, QLineEdit**> edit,
                               std::pair<const char*, QToolButton**> later,
                               std::pair<const char*, QToolButton**> earlier) {
        Caption(caption, &w, x, 302, 70);
        *edit.second = ReadOnlyEdit(edit.first, caption, &w);
        (*edit.second)->setGeometry(x + 70, 302, 70, 22);
        *later.second = ArrowButton(later.first, Qt::UpArrow, QString(what) + " later", &w);
        (*later.second)->setGeometry(x + 142, 302, 20, 11);
        *earlier.second = ArrowButton(earlier.first, Qt::DownArrow, QString(what) + " earlier", &w);
        (*earlier.second)->setGeometry(x + 142, 313, 20, 11);
    };
    rangeEnd(615, "Start time:", "Start", {"edtStart", &w.edtStart},
             {"btnStartUp1", &w.btnStartUp1}, {"btnStartUpStartDown", &w.btnStartUpStartDown});
    rangeEnd(805, "End Time:", "End", {"edtEnd", &w.edtEnd},
             {"btnStartUpEndUp", &w.btnStartUpEndUp}, {"btnStartUpEndDown", &w.btnStartUpEndDown});
}

void TWaterMarkControls::CreateFontControls() {
    TfrmWaterMark& w = FWindow;
    Caption("Font:", &w, 615, 334, 80);
    w.suiFontCmb = Named(new QFontComboBox(&w), "suiFontCmb", "Font:");
    w.suiFontCmb->setGeometry(700, 334, 290, 24);
    w.suiFontCmb->setEditable(false);
    Caption("Font Size:", &w, 615, 362, 80);
    w.suiFontSizeCmb = Named(new QComboBox(&w), "suiFontSizeCmb", "Font Size:");
    w.suiFontSizeCmb->setGeometry(700, 362, 80, 24);
    Caption("Font Color:", &w, 790, 362, 70);
    w.suiColorBoxcmb = ColorBox("suiColorBoxcmb", "Font Color:", &w);
    w.suiColorBoxcmb->setGeometry(860, 362, 130, 24);
    Caption("Font Style:", &w, 615, 390, 80);
    const std::tuple<QCheckBox**, const char*, const char*> boxes[] = {
        {&w.suiChkBold, "suiChkBold", "Bold"},
        {&w.suiChkItalic, "suiChkItalic", "Italic"},
        {&w.suiChkUnderline, "suiChkUnderline", "Underline"},
        {&w.suiChkStrikeOut, "suiChkStrikeOut", "Strikeout"}};
    const int widths[] = {60, 66, 92, 80};
    int x = 700, i = 0;
    for (const auto& [box, name, caption] : boxes) {
        *box = Named(new QCheckBox(caption, &w), name, caption);
        (*box)->setGeometry(x, 390, widths[i], 22);
        x += widths[i++];
    }
    auto* group = new QGroupBox("Font background color", &w);
    group->setObjectName("grpBackground");
    group->setAccessibleName("Font background color");
    group->setGeometry(615, 418, 375, 56);
    w.rb1 = Named(new QRadioButton("Background color", group), "rb1", "Background color");
    w.rb1->setGeometry(10, 24, 130, 22);
    w.rb2 = Named(new QRadioButton("Transparent", group), "rb2", "Transparent");
    w.rb2->setGeometry(145, 24, 100, 22);
    w.suiColorBoxbackground = ColorBox("suiColorBoxbackground", "Background color box", group);
    w.suiColorBoxbackground->setGeometry(245, 22, 120, 24);
}

// Enter presses Ok wherever the focus is; no other button takes it over by
// having the focus (Add Text would otherwise add a layer on every Enter).
void TWaterMarkControls::MakeOkTheDefaultButton() {
    TfrmWaterMark& w = FWindow;
    for (QPushButton* button : w.findChildren<QPushButton*>())
        button->setAutoDefault(false);
    w.btnOk->setDefault(true);
}
