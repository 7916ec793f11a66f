// The conversion list `lvFIles`: one row per source file, each with its
// check box and the item record it owns, drawn entirely by the program.
#pragma once

#include "app/FilesRowDelegate.h" // the rows' drawing
#include "effects/EditSettings.h"

#include <QImage>
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
    const QImage& EmptyPicture() const { return FEmptyPicture; }
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

    QImage FEmptyPicture;
    bool FBuiltInEmpty = false;
};
