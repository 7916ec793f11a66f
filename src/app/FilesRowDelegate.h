// The drawing of the conversion list's rows: alternating backgrounds, the
// selection's colours and frame, the check box, the Source cell's file name
// before its folder, and tool tips for texts cut off in their cells.
#pragma once

#include <QStyledItemDelegate>

class TFilesList;

// Draws a row: alternating background, selection colours, the check box.
class TFilesRowDelegate : public QStyledItemDelegate {
public:
    explicit TFilesRowDelegate(TFilesList* list);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A text cut off in its cell shows whole in a tool tip.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // What the Source cell shows in `width` pixels: the file name (cut at
    // its end only when even it does not fit), then the folder, cut in its
    // middle; no folder when there is no room for it.
    struct TSourceText {
        QString Name, Folder;
    };
    static TSourceText SourceText(const QString& path, const QFontMetrics& metrics, int width);

    // Where a cell's text is drawn: the cell less 3 pixels at each side, and
    // less the check box in the first column.
    static QRect LabelRect(const QRect& cell, const QModelIndex& index);
    // The cell's whole text when it does not fit its label area, else empty.
    static QString CutOffText(const QStyleOptionViewItem& option, const QModelIndex& index);

private:
    static void PaintText(QPainter* painter, const QRect& label, const QString& text);
    static void PaintSource(QPainter* painter, const QRect& label, const QString& path);

    TFilesList* FList;
};
