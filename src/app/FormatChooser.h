// The format chooser: the read-only box `edt1`, its arrow button `imgbtn1`
// and the owner-drawn drop-down list `lst1` with category headings that
// expand and collapse. The main window and the format settings dialog each
// have one; they differ in where the list opens, how high it may grow and
// what picking a format does.
#pragma once

#include "core/FormatCatalogue.h"

#include <QLineEdit>
#include <QListWidget>
#include <QStyledItemDelegate>
#include <functional>
#include <string>
#include <vector>

class TIniFile;
class QToolButton;

// One row of the list: a category heading or a format.
struct TChooserRow {
    std::string Text;
    TItemInfo Info;
};

// What the list holds, without any window: built from the catalogue and the
// stored collapsed state, changed by expanding and collapsing.
class TFormatChooserModel {
public:
    // Height of a list row in pixels.
    static constexpr int RowHeight = 20;

    TFormatCaptions FormatCaptions{};
    std::vector<TChooserRow> Rows;

    // Fills the captions and the rows; a category is collapsed unless
    // "lstformat" says otherwise.
    void Build(const TIniFile& settings);
    // The row whose caption equals the trimmed text, ignoring case; -1 if none.
    int FindRow(const std::string& text) const;
    bool IsCategoryRow(int row) const;
    bool IsEntryRow(int row) const;
    void ExpandCategory(int row);
    void CollapseCategory(int row);
    // Expands a collapsed category row, collapses an expanded one.
    void ToggleCategory(int row);
    // Writes the collapsed state of every category to "lstformat".
    void SaveChooserState(TIniFile& settings) const;
    // The list's height: `limit` when the rows need more, else the rows plus
    // one spare row.
    static int ListHeight(int rowCount, int limit);
};

// The list control `lst1`: reports the mouse to the chooser.
class TFormatList : public QListWidget {
    Q_OBJECT
public:
    explicit TFormatList(QWidget* parent);

signals:
    void MouseDown(Qt::MouseButton button, int x, int y);
    void MouseMoved(int x, int y);
    void DoubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// The read-only box `edt1`: reports clicks and double clicks.
class TFormatEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TFormatEdit(QWidget* parent);

signals:
    void Clicked();
    void DoubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// Draws the rows of `lst1` (`lst1DrawItem`).
class TFormatRowDelegate : public QStyledItemDelegate {
public:
    TFormatRowDelegate(const TFormatChooserModel& model, QObject* parent)
        : QStyledItemDelegate(parent), FModel(model) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const TFormatChooserModel& FModel;
};

// The chooser's behaviour over its three controls.
class TFormatChooser : public QObject {
    Q_OBJECT
public:
    struct TPlacement {
        bool OpensBelow = false; // the main window's list opens above `edt1`
        int HeightLimit = 422;
    };
    // Gives the caption that opening the list looks for.
    using TNameSource = std::function<std::string()>;
    // Called with the caption and code of a picked format.
    using TPickHandler = std::function<void(const std::string& caption, int code)>;

    TFormatChooser(TFormatEdit* edt1, QToolButton* imgbtn1, TFormatList* lst1, TPlacement placement,
                   TNameSource currentName, TPickHandler onPick, QObject* parent);

    // Fills the captions and the list, shows `shownName` in `edt1` and
    // selects its row.
    void BuildFormatChooser(const TIniFile& settings, const std::string& shownName);
    void SaveChooserState(TIniFile& settings) const;
    void HideList();

    const TFormatChooserModel& Model() const { return FModel; }
    TFormatList* List() const { return FLst1; }

    // Handlers of the three controls.
    void edt1Click();
    void edt1DblClick();
    void imgbtn1Click();
    void lst1Click();
    void lst1DblClick();
    void lst1MouseDown(Qt::MouseButton button, int x, int y);
    void lst1MouseMove(int x, int y);

private:
    void RefreshList();
    void SelectRowOf(const std::string& caption);
    void ShowList(bool size);
    // Hides a shown list; else shows the current format in the box and
    // opens the list on its row (`size`: placed beside the box first).
    void ToggleListOnCurrent(bool size);
    void SizeList();
    void PickRow(int row);

    TFormatChooserModel FModel;
    TFormatEdit* FEdt1;
    QToolButton* FImgbtn1;
    TFormatList* FLst1;
    TPlacement FPlacement;
    TNameSource FCurrentName;
    TPickHandler FOnPick;
};
