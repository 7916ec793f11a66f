#include "app/ConversionList.h"

#include "app/Skin.h"
#include "core/FormatSeconds.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QUrl>

namespace {

constexpr int kCheckBoxWidth = 16;
const QString kSourceGap = QStringLiteral("   ");

QColor RowBackground(int row, bool selected, bool focused) {
    if (selected) return focused ? QColor(185, 204, 236) : QColor(229, 236, 248);
    return (row % 2) ? QColor(226, 230, 246) : QColor(Qt::white);
}

QColor SelectionFrame(bool focused) {
    return focused ? QColor(122, 160, 218) : QColor(152, 181, 226);
}

} // namespace

TFilesItem::TFilesItem(TlvFilesRecord record) : Record(std::move(record)) {
    setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
}

TFilesList::TFilesList(QWidget* parent) : QTreeWidget(parent) {
    setObjectName("lvFIles");
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    // Ctrl+A and Shift/Ctrl clicks select several rows for Delete; the edit
    // dialogs work on the current one.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAcceptDrops(true);
    setItemDelegate(new TFilesRowDelegate(this));
    setStyleSheet("QTreeWidget#lvFIles { background: white; color: black; }"
                  "QHeaderView::section { background: #e9edf3; color: #183450; border: none;"
                  " border-right: 1px solid #c6ced8; border-bottom: 1px solid #c6ced8;"
                  " padding: 3px 4px; }");
    RemoveColumns();
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
        if (column != colProgress) emit ListChanged();
    });
    connect(model(), &QAbstractItemModel::rowsInserted, this, &TFilesList::ListChanged);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, &TFilesList::ListChanged);
    connect(model(), &QAbstractItemModel::modelReset, this, &TFilesList::ListChanged);
    const QString file = QDir(QCoreApplication::applicationDirPath()).filePath("skin/lvBack.bmp");
    emptyPicture_ = QImage(file);
    builtInEmpty_ = emptyPicture_.isNull();
    if (builtInEmpty_) emptyPicture_ = BuiltInEmptyPicture(QSize(479, 329));
}

QImage TFilesList::BuiltInEmptyPicture(const QSize& size) {
    const qreal scale = skin::PictureScale();
    QImage image(size * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect box(size.width() / 2 - 150, size.height() / 2 - 80, 300, 160);
    painter.setPen(QPen(QColor(176, 190, 210), 2, Qt::DashLine));
    painter.drawRoundedRect(box, 10, 10);
    painter.drawPixmap(box.center().x() - 24, box.top() + 22, skin::Pixmap("cat_video", 48));
    painter.setPen(QColor(60, 80, 110));
    QFont font("Arial", 11, QFont::Bold);
    painter.setFont(font);
    painter.drawText(QRect(box.left(), box.top() + 80, box.width(), 24), Qt::AlignCenter,
                     "Add video and audio files");
    painter.setFont(QFont("Arial", 9));
    painter.setPen(QColor(110, 126, 150));
    painter.drawText(QRect(box.left(), box.top() + 106, box.width(), 40),
                     Qt::AlignCenter | Qt::TextWordWrap,
                     "Click Add, or drop files here from your file manager");
    return image;
}

// The rows go with the tree's model, after this part of the list is gone:
// their removal must not reach the list's or the window's handlers.
TFilesList::~TFilesList() {
    model()->disconnect(this);
    disconnect(this, nullptr, nullptr, nullptr);
}

TFilesItem* TFilesList::Row(int index) const {
    return static_cast<TFilesItem*>(topLevelItem(index));
}

int TFilesList::SelectedRow() const {
    if (currentItem() && currentItem()->isSelected()) return indexOfTopLevelItem(currentItem());
    int first = -1;
    for (QTreeWidgetItem* item : selectedItems()) {
        const int row = indexOfTopLevelItem(item);
        if (first < 0 || row < first) first = row;
    }
    return first;
}

void TFilesList::SelectRow(int index) {
    clearSelection();
    if (index < 0 || index >= RowCount()) return;
    setCurrentItem(topLevelItem(index));
    topLevelItem(index)->setSelected(true);
    setFocus();
}

bool TFilesList::IsChecked(int index) const {
    return Row(index)->checkState(colSource) == Qt::Checked;
}

void TFilesList::SetChecked(int index, bool checked) {
    Row(index)->setCheckState(colSource, checked ? Qt::Checked : Qt::Unchecked);
}

int TFilesList::CheckedCount() const {
    int count = 0;
    for (int i = 0; i < RowCount(); ++i)
        count += IsChecked(i) ? 1 : 0;
    return count;
}

int TFilesList::FindCaption(const std::string& path) const {
    for (int i = 0; i < RowCount(); ++i)
        if (Row(i)->Record.SourceFile == path) return i;
    return -1;
}

TFilesItem* TFilesList::AppendRow(TlvFilesRecord record) {
    auto* item = new TFilesItem(std::move(record));
    const TlvFilesRecord& r = item->Record;
    item->setText(colSource, QString::fromStdString(r.SourceFile));
    item->setText(colLength, QString::fromStdString(FormatSeconds(r.Duration)));
    item->setText(colTrimmed, QString::number(r.Duration));
    item->setText(colDestination, QFileInfo(QString::fromStdString(r.DestinationFile)).fileName());
    item->setText(colProgress, QString());
    item->setCheckState(colSource, Qt::Checked);
    addTopLevelItem(item);
    if (RowCount() == 1) CreateColumns();
    return item;
}

void TFilesList::RemoveRow(int index) {
    delete takeTopLevelItem(index);
    if (RowCount() == 0) RemoveColumns();
}

void TFilesList::RemoveAllRows() {
    clear();
    RemoveColumns();
}

void TFilesList::SetProgressText(int index, const QString& text) {
    if (index >= 0 && index < RowCount()) Row(index)->setText(colProgress, text);
}

void TFilesList::SetDestination(int index, const std::string& path) {
    if (index < 0 || index >= RowCount()) return;
    Row(index)->Record.DestinationFile = path;
    emit ListChanged();
    Row(index)->setText(colDestination, QFileInfo(QString::fromStdString(path)).fileName());
}

void TFilesList::CreateColumns() {
    setColumnCount(colCount);
    setHeaderLabels({"Source", "Length", "Trimmed Length", "Destination File", "Progress"});
    // The source takes what the others leave; they keep their widths, but
    // never less than their captions need.
    const int widths[colCount] = {140, 65, 90, 120, 60};
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    header()->setSectionResizeMode(colSource, QHeaderView::Stretch);
    setHeaderHidden(false);
    for (int c = 0; c < colCount; ++c)
        setColumnWidth(c, std::max(widths[c], header()->sectionSizeHint(c)));
}

void TFilesList::RemoveColumns() {
    setHeaderHidden(true);
    setColumnCount(1);
}

void TFilesList::paintEvent(QPaintEvent* event) {
    if (RowCount() == 0) {
        // The built-in picture is centred in the list at whatever size it has.
        if (builtInEmpty_ && emptyPicture_.deviceIndependentSize().toSize() != viewport()->size())
            emptyPicture_ = BuiltInEmptyPicture(viewport()->size());
        QPainter painter(viewport());
        painter.fillRect(viewport()->rect(), Qt::white);
        painter.drawImage(0, 0, emptyPicture_);
        return;
    }
    QTreeWidget::paintEvent(event);
}

void TFilesList::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFilesList::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFilesList::dropEvent(QDropEvent* event) {
    std::vector<std::string> files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
    event->acceptProposedAction();
    if (!files.empty() && OnFilesDropped) OnFilesDropped(files);
}

// ---------------------------------------------------------------------------
// Row drawing

void TFilesRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const bool focused = list_->hasFocus();
    QRect rect = option.rect;
    painter->save();
    painter->fillRect(rect, RowBackground(index.row(), selected, focused));
    if (index.column() == colSource) {
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(Qt::black, 2));
        painter->drawRect(QRect(QPoint(rect.left() + 2, rect.top() + 2),
                                QPoint(rect.left() + 14, rect.bottom() - 2)));
        if (checked) {
            const QPoint tick[] = {QPoint(rect.left() + 4, rect.top() + 6),
                                   QPoint(rect.left() + 6, rect.top() + 11),
                                   QPoint(rect.left() + 11, rect.top() + 5)};
            painter->drawPolyline(tick, 3);
        }
    }
    const QRect label = LabelRect(option.rect, index);
    if (index.column() == colSource)
        PaintSource(painter, label, index.data().toString());
    else
        PaintText(painter, label, index.data().toString());
    if (selected) {
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(SelectionFrame(focused));
        painter->drawLine(rect.topLeft(), rect.topRight());
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());
        if (index.column() == colSource) painter->drawLine(rect.topLeft(), rect.bottomLeft());
        if (index.column() == list_->columnCount() - 1)
            painter->drawLine(rect.topRight(), rect.bottomRight());
    }
    painter->restore();
}

void TFilesRowDelegate::PaintText(QPainter* painter, const QRect& label, const QString& text) {
    painter->setPen(Qt::black);
    const QString shown = painter->fontMetrics().elidedText(text, Qt::ElideRight, label.width());
    painter->drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

TFilesRowDelegate::TSourceText
TFilesRowDelegate::SourceText(const QString& path, const QFontMetrics& metrics, int width) {
    const QFileInfo file(path);
    TSourceText shown;
    shown.Name = metrics.elidedText(file.fileName(), Qt::ElideRight, width);
    const int room = width - metrics.horizontalAdvance(shown.Name + kSourceGap);
    const QString folder = QDir::toNativeSeparators(file.path());
    if (shown.Name == file.fileName() && room > metrics.horizontalAdvance(QChar(0x2026)) * 3)
        shown.Folder = metrics.elidedText(folder, Qt::ElideMiddle, room);
    return shown;
}

// The file name first, then its folder in grey, shortened in its middle.
void TFilesRowDelegate::PaintSource(QPainter* painter, const QRect& label, const QString& path) {
    const TSourceText shown = SourceText(path, painter->fontMetrics(), label.width());
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    painter->setPen(Qt::black);
    painter->drawText(label, flags, shown.Name);
    if (shown.Folder.isEmpty()) return;
    painter->setPen(QColor(96, 106, 122));
    const int x = painter->fontMetrics().horizontalAdvance(shown.Name + kSourceGap);
    painter->drawText(label.adjusted(x, 0, 0, 0), flags, shown.Folder);
}

QRect TFilesRowDelegate::LabelRect(const QRect& cell, const QModelIndex& index) {
    QRect label = cell;
    if (index.column() == colSource) label.setLeft(cell.left() + kCheckBoxWidth + 3);
    return label.adjusted(3, 0, -3, 0);
}

QString TFilesRowDelegate::CutOffText(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) {
    const QString text = index.data().toString();
    const int room = LabelRect(option.rect, index).width();
    return option.fontMetrics.horizontalAdvance(text) > room ? text : QString();
}

bool TFilesRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                  const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    // The source's whole path always: the cell shows its name first.
    const QString whole =
        index.column() == colSource ? index.data().toString() : CutOffText(option, index);
    if (whole.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPos(), whole, view->viewport(), option.rect);
    return true;
}

bool TFilesRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease || index.column() != colSource) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton ||
        mouse->position().x() >= option.rect.left() + kCheckBoxWidth)
        return false;
    const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    return true;
}

QSize TFilesRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), 18);
}
