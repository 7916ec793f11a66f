// The program's own window skin: colours, icons from the compiled-in
// resources and the few skinned controls every window uses.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QToolButton>

class QPainter;
class QRect;

namespace skin {

// Window background, dark blue.
inline QColor Background() {
    return QColor(24, 52, 91);
}
// Title row and tool row, a shade lighter.
inline QColor Band() {
    return QColor(34, 70, 118);
}
// Light background of the format box, the drop-down and the folder box.
inline QColor LightBox() {
    return QColor(246, 247, 248);
}
// Drop-down rows: the row under the pointer.
inline QColor HotFill() {
    return QColor(185, 204, 236);
}
inline QColor HotFrame() {
    return QColor(122, 160, 218);
}
// Paints a drop-down row's background: a framed hot fill when the row is
// selected, else `plain`.
void PaintDropDownRow(QPainter* painter, const QRect& rect, bool selected, const QColor& plain);
// Text of format rows.
inline QColor EntryText() {
    return QColor(0, 0, 128);
}
// Accent of the start buttons.
inline QColor Accent() {
    return QColor(240, 136, 62);
}

// An icon of the resources (":/icons/<name>.svg") drawn at the given size.
// The picture has the pixel density of the sharpest screen (PictureScale);
// its logical size is the size asked for.
QPixmap Pixmap(const QString& name, int width, int height);
QPixmap Pixmap(const QString& name, int size);
QIcon Icon(const QString& name, int size);
qreal PictureScale();

// The skin's style sheet for a window and its children: message boxes,
// menus, edit boxes, scroll bars.
QString StyleSheet();

// Font of the title row: bold Arial (or the nearest face installed).
QFont TitleFont(int pointSize);

// A flat button with an icon above its caption (tool row) or an icon alone
// (title, player and share buttons), drawn by the skin.
class TImageButton : public QToolButton {
    Q_OBJECT
public:
    TImageButton(const QString& objectName, const QString& caption, const QString& iconName,
                 int width, int height, int iconSize, QWidget* parent);
};

// A flat white-text button of the menu row.
class TMenuRowButton : public QToolButton {
    Q_OBJECT
public:
    TMenuRowButton(const QString& objectName, const QString& caption, QWidget* parent);
};

} // namespace skin
