#include "app/ConversionList.h"

#include "app/FilesRowDelegate.h"
#include "app/Skin.h"
#include "core/FormatSeconds.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

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
    FEmptyPicture = QImage(file);
    FBuiltInEmpty = FEmptyPicture.isNull();
    if (FBuiltInEmpty) FEmptyPicture = BuiltInEmptyPicture(QSize(479, 329));
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
        if (FBuiltInEmpty && FEmptyPicture.deviceIndependentSize().toSize() != viewport()->size())
            FEmptyPicture = BuiltInEmptyPicture(viewport()->size());
        QPainter painter(viewport());
        painter.fillRect(viewport()->rect(), Qt::white);
        painter.drawImage(0, 0, FEmptyPicture);
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
