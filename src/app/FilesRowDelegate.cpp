#include "app/FilesRowDelegate.h"

#include "app/ConversionList.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

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

TFilesRowDelegate::TFilesRowDelegate(TFilesList* list) : QStyledItemDelegate(list), FList(list) {}

void TFilesRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const bool focused = FList->hasFocus();
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
        if (index.column() == FList->columnCount() - 1)
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
