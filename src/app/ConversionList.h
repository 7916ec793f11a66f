// The conversion list `lvFIles`: one row per source file, each with its
// check box and the item record it owns, drawn entirely by the program.
#pragma once

#include "effects/EditSettings.h"

#include <QImage>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <vector>

// Column indexes.
enum TFilesColumn { colSource = 0, colLength, colTrimmed, colDestination, colProgress, colCount };

// A row: its texts live in the item, its settings in `Record`.
class TFilesItem : public QTreeWidgetItem {
public:
    explicit TFilesItem(TlvFilesRecord record);
    TlvFilesRecord Record;
};

class TFilesList : public QTreeWidget {
    Q_OBJECT
public:
    explicit TFilesList(QWidget* parent);
    ~TFilesList() override;

    int RowCount() const { return topLevelItemCount(); }
    TFilesItem* Row(int index) const;
    // Index of the selected row, -1 when none.
    int SelectedRow() const;
    void SelectRow(int index);
    bool IsChecked(int index) const;
    void SetChecked(int index, bool checked);
    int CheckedCount() const;
    // The row whose caption equals the path exactly, -1 if none.
    int FindCaption(const std::string& path) const;

    // Appends a checked row; creates the columns with the first row.
    TFilesItem* AppendRow(TlvFilesRecord record);
    void RemoveRow(int index);
    void RemoveAllRows();
    void SetProgressText(int index, const QString& text);
    // The row's output file: its record and its "Destination File" text.
    void SetDestination(int index, const std::string& path);

    // Drawn while the list is empty: "skin/lvBack.bmp" beside the program,
    // else the built-in picture.
    const QImage& EmptyPicture() const { return emptyPicture_; }
    static QImage BuiltInEmptyPicture(const QSize& size);

    // Tells the list's watchers that a row's record changed behind its
    // texts (the edit dialogs write records directly).
    void NotifyChanged() { emit ListChanged(); }

    // Files dropped from the file manager.
    std::function<void(const std::vector<std::string>&)> OnFilesDropped;

signals:
    // Rows came or went, or a row's check mark, texts (but its progress) or
    // record changed.
    void ListChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateColumns();
    void RemoveColumns();

    QImage emptyPicture_;
    bool builtInEmpty_ = false;
};

// Draws a row: alternating background, selection colours, the check box.
class TFilesRowDelegate : public QStyledItemDelegate {
public:
    explicit TFilesRowDelegate(TFilesList* list) : QStyledItemDelegate(list), list_(list) {}
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

    TFilesList* list_;
};
