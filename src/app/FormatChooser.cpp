#include "app/FormatChooser.h"

#include "app/Skin.h"
#include "core/IniFile.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>
#include <cctype>

namespace {

const char* const kStateSection = "lstformat";
constexpr int kCategories = kFormatCategoryCount;
constexpr int kGlyphHitWidth = 20;

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

TChooserRow CategoryRow(int category, bool collapsed) {
    TChooserRow row;
    row.Text = CategoryCaption(category);
    row.Info.IsCategory = true;
    row.Info.IsEntry = false;
    row.Info.Collapsed = collapsed;
    row.Info.Code = category;
    return row;
}

TChooserRow EntryRow(const std::string& caption, int code) {
    TChooserRow row;
    row.Text = caption;
    row.Info.IsEntry = true;
    row.Info.Code = code;
    return row;
}

QString CategoryIconName(int category) {
    static const char* const names[] = {"cat_zune", "cat_video", "cat_audio", "cat_modern"};
    return (category >= 0 && category < kCategories) ? names[category] : "cat_video";
}

} // namespace

// ---------------------------------------------------------------------------
// Model

void TFormatChooserModel::Build(const TIniFile& settings) {
    for (auto& category : FormatCaptions)
        category.fill(std::string());
    Rows.clear();
    FillFormatCaptions(FormatCaptions);
    for (int category = 0; category < kCategories; ++category) {
        bool collapsed = settings.ReadBool(kStateSection, std::to_string(category), true);
        Rows.push_back(CategoryRow(category, true));
        if (!collapsed) ExpandCategory(static_cast<int>(Rows.size()) - 1);
    }
}

int TFormatChooserModel::FindRow(const std::string& text) const {
    const std::string wanted = Trimmed(text);
    for (size_t i = 0; i < Rows.size(); ++i) {
        if (SameTextIgnoringCase(Rows[i].Text, wanted)) return static_cast<int>(i);
    }
    return -1;
}

bool TFormatChooserModel::IsCategoryRow(int row) const {
    return row >= 0 && row < static_cast<int>(Rows.size()) && Rows[row].Info.IsCategory;
}

bool TFormatChooserModel::IsEntryRow(int row) const {
    return row >= 0 && row < static_cast<int>(Rows.size()) && Rows[row].Info.IsEntry;
}

void TFormatChooserModel::ExpandCategory(int row) {
    if (!IsCategoryRow(row) || !Rows[row].Info.Collapsed) return;
    const int category = Rows[row].Info.Code;
    int insertAt = row + 1;
    for (int position = 0; position < 50; ++position) {
        const std::string& caption = FormatCaptions[category][position];
        if (caption.empty()) continue;
        Rows.insert(Rows.begin() + insertAt++, EntryRow(caption, category * 100 + position));
    }
    Rows[row].Info.Collapsed = false;
}

void TFormatChooserModel::CollapseCategory(int row) {
    if (!IsCategoryRow(row)) return;
    auto first = Rows.begin() + row + 1;
    auto last =
        std::find_if(first, Rows.end(), [](const TChooserRow& r) { return !r.Info.IsEntry; });
    Rows.erase(first, last);
    Rows[row].Info.Collapsed = true;
}

void TFormatChooserModel::ToggleCategory(int row) {
    if (!IsCategoryRow(row)) return;
    if (Rows[row].Info.Collapsed)
        ExpandCategory(row);
    else
        CollapseCategory(row);
}

void TFormatChooserModel::SaveChooserState(TIniFile& settings) const {
    for (const TChooserRow& row : Rows) {
        if (row.Info.IsCategory)
            settings.WriteBool(kStateSection, std::to_string(row.Info.Code), row.Info.Collapsed);
    }
}

int TFormatChooserModel::ListHeight(int rowCount, int limit) {
    const int needed = rowCount * RowHeight;
    return needed > limit ? limit : needed + RowHeight;
}

// ---------------------------------------------------------------------------
// Controls

TFormatList::TFormatList(QWidget* parent) : QListWidget(parent) {
    setObjectName("lst1");
    setMouseTracking(true);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::Box);
    setStyleSheet("QListWidget#lst1 { background: rgb(246,247,248); border: 1px solid #5d7898; }");
    hide();
}

void TFormatList::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit MouseDown(event->button(), p.x(), p.y());
}

void TFormatList::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit MouseMoved(p.x(), p.y());
}

void TFormatList::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click: on the glyph it toggles like any
    // press, elsewhere on a category row the double click does.
    const QPoint p = event->position().toPoint();
    if (p.x() < kGlyphHitWidth)
        emit MouseDown(event->button(), p.x(), p.y());
    else
        emit DoubleClicked();
}

TFormatEdit::TFormatEdit(QWidget* parent) : QLineEdit(parent) {
    setObjectName("edt1");
    setReadOnly(true);
    // The box never takes the keyboard focus, so it never shows a caret.
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setTextMargins(4, 2, 0, 0);
}

void TFormatEdit::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit Clicked();
}

void TFormatEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit DoubleClicked();
}

// ---------------------------------------------------------------------------
// Row drawing

void TFormatRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const int rowIndex = index.row();
    if (rowIndex < 0 || rowIndex >= static_cast<int>(FModel.Rows.size())) return;
    const TChooserRow& row = FModel.Rows[rowIndex];
    QRect rect = option.rect;
    painter->save();
    skin::PaintDropDownRow(painter, rect, option.state & QStyle::State_Selected, skin::LightBox());
    rect.adjust(3, 0, -3, 0);
    QFont font = option.font;
    const QString text = QString::fromStdString(row.Text);
    if (row.Info.IsCategory) {
        font.setBold(true);
        painter->setFont(font);
        const int glyph = 16, icon = 20, height = rect.height();
        painter->drawPixmap(rect.left() + 1, rect.top() + 1 + (height - glyph) / 2,
                            skin::Pixmap(row.Info.Collapsed ? "plus" : "minus", glyph));
        painter->drawPixmap(rect.left() + 20, rect.top() - 1 + (height - icon) / 2,
                            skin::Pixmap(CategoryIconName(row.Info.Code), icon));
        painter->setPen(Qt::black);
        painter->drawText(rect.adjusted(45, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
    } else {
        painter->setFont(font);
        painter->setPen(skin::EntryText());
        painter->drawText(rect.adjusted(25, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
    }
    painter->restore();
}

QSize TFormatRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(),
                 TFormatChooserModel::RowHeight);
}

// ---------------------------------------------------------------------------
// Behaviour

TFormatChooser::TFormatChooser(TFormatEdit* edt1, QToolButton* imgbtn1, TFormatList* lst1,
                               TPlacement placement, TNameSource currentName, TPickHandler onPick,
                               QObject* parent)
    : QObject(parent), FEdt1(edt1), FImgbtn1(imgbtn1), FLst1(lst1), FPlacement(placement),
      FCurrentName(std::move(currentName)), FOnPick(std::move(onPick)) {
    FLst1->setItemDelegate(new TFormatRowDelegate(FModel, FLst1));
    connect(FEdt1, &TFormatEdit::Clicked, this, &TFormatChooser::edt1Click);
    connect(FEdt1, &TFormatEdit::DoubleClicked, this, &TFormatChooser::edt1DblClick);
    connect(FImgbtn1, &QToolButton::clicked, this, &TFormatChooser::imgbtn1Click);
    connect(FLst1, &TFormatList::MouseDown, this, [this](Qt::MouseButton b, int x, int y) {
        lst1MouseDown(b, x, y);
        lst1Click();
    });
    connect(FLst1, &TFormatList::MouseMoved, this, &TFormatChooser::lst1MouseMove);
    connect(FLst1, &TFormatList::DoubleClicked, this, &TFormatChooser::lst1DblClick);
}

void TFormatChooser::BuildFormatChooser(const TIniFile& settings, const std::string& shownName) {
    HideList();
    FModel.Build(settings);
    RefreshList();
    FEdt1->setText(QString::fromStdString(shownName));
    FLst1->setCurrentRow(FModel.FindRow(shownName));
}

void TFormatChooser::SaveChooserState(TIniFile& settings) const {
    FModel.SaveChooserState(settings);
}

void TFormatChooser::HideList() {
    FLst1->hide();
}

void TFormatChooser::edt1Click() {
    if (FLst1->isVisible()) {
        HideList();
        return;
    }
    SelectRowOf(FCurrentName());
    ShowList(true);
    QListWidgetItem* selected = FLst1->currentItem();
    if (selected) {
        const QRect r = FLst1->visualItemRect(selected);
        QCursor::setPos(FLst1->viewport()->mapToGlobal(r.center()));
    }
}

void TFormatChooser::imgbtn1Click() {
    ToggleListOnCurrent(true);
}

void TFormatChooser::edt1DblClick() {
    ToggleListOnCurrent(false);
}

void TFormatChooser::ToggleListOnCurrent(bool size) {
    if (FLst1->isVisible()) {
        HideList();
        return;
    }
    const std::string name = FCurrentName();
    FEdt1->setText(QString::fromStdString(name));
    SelectRowOf(name);
    ShowList(size);
}

void TFormatChooser::lst1Click() {
    if (FLst1->isVisible()) SizeList();
}

void TFormatChooser::lst1DblClick() {
    const int row = FLst1->currentRow();
    if (!FModel.IsCategoryRow(row)) return;
    FModel.ToggleCategory(row);
    RefreshList();
    FLst1->setCurrentRow(row);
    SizeList();
}

void TFormatChooser::lst1MouseDown(Qt::MouseButton button, int x, int y) {
    if (button != Qt::LeftButton) return;
    QListWidgetItem* item = FLst1->itemAt(x, y);
    if (!item) return;
    const int row = FLst1->row(item);
    if (FModel.IsCategoryRow(row)) {
        if (x < kGlyphHitWidth) {
            FModel.ToggleCategory(row);
            RefreshList();
            FLst1->setCurrentRow(row);
        }
        return;
    }
    if (FModel.IsEntryRow(row)) PickRow(row);
}

void TFormatChooser::lst1MouseMove(int x, int y) {
    QListWidgetItem* item = FLst1->itemAt(x, y);
    if (item && item != FLst1->currentItem()) FLst1->setCurrentItem(item);
}

void TFormatChooser::RefreshList() {
    FLst1->clear();
    for (const TChooserRow& row : FModel.Rows)
        FLst1->addItem(QString::fromStdString(row.Text));
}

void TFormatChooser::SelectRowOf(const std::string& caption) {
    FLst1->setCurrentRow(FModel.FindRow(caption));
}

void TFormatChooser::ShowList(bool size) {
    FLst1->show();
    FLst1->raise();
    FLst1->setFocus();
    if (size) SizeList();
}

void TFormatChooser::SizeList() {
    const int height = TFormatChooserModel::ListHeight(FLst1->count(), FPlacement.HeightLimit);
    const int left = FEdt1->x();
    const int width = FImgbtn1->geometry().right() - left + 1;
    const int top = FPlacement.OpensBelow ? FEdt1->geometry().bottom() : FEdt1->y() - height;
    FLst1->setGeometry(left, top, width, height);
}

void TFormatChooser::PickRow(int row) {
    const TChooserRow picked = FModel.Rows[row];
    if (FOnPick) FOnPick(picked.Text, picked.Info.Code);
    FEdt1->setText(QString::fromStdString(picked.Text));
    HideList();
}
