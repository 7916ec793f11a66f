#include "app/Skin.h"

#include <QFont>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>

// The resources live in a static library: register them before first use.
static void InitSkinResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(vantrel);
        return true;
    }();
    (void)done;
}

namespace skin {

// The pixels per logical pixel of the sharpest screen: icons are drawn at
// that density, so that they stay sharp on a high-resolution screen.
qreal PictureScale() {
    return qGuiApp ? std::max<qreal>(1, qGuiApp->devicePixelRatio()) : 1;
}

QPixmap Pixmap(const QString& name, int width, int height) {
    InitSkinResources();
    static QHash<QString, QPixmap> cache;
    const qreal scale = PictureScale();
    const QString key = name + QString::number(width) + "x" + QString::number(height) + "@" +
                        QString::number(scale);
    auto it = cache.find(key);
    if (it != cache.end()) return *it;
    QPixmap pixmap(qRound(width * scale), qRound(height * scale));
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(":/icons/" + name + ".svg");
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, width, height));
    }
    cache.insert(key, pixmap);
    return pixmap;
}

void PaintDropDownRow(QPainter* painter, const QRect& rect, bool selected, const QColor& plain) {
    if (!selected) {
        painter->fillRect(rect, plain);
        return;
    }
    painter->fillRect(rect.adjusted(2, 2, -2, -2), HotFill());
    painter->setPen(HotFrame());
    painter->drawRect(rect.adjusted(1, 1, -2, -2));
}

QPixmap Pixmap(const QString& name, int size) {
    return Pixmap(name, size, size);
}

QIcon Icon(const QString& name, int size) {
    QIcon icon(Pixmap(name, size));
    // A dimmed copy for disabled buttons.
    const QPixmap sharp = Pixmap(name, size);
    QPixmap dim(sharp.size());
    dim.setDevicePixelRatio(sharp.devicePixelRatio());
    dim.fill(Qt::transparent);
    QPainter painter(&dim);
    painter.setOpacity(0.35);
    painter.drawPixmap(0, 0, sharp);
    painter.end();
    icon.addPixmap(dim, QIcon::Disabled);
    return icon;
}

QFont TitleFont(int pointSize) {
    QFont font("Arial", pointSize, QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QString StyleSheet() {
    return R"(
        QToolButton#skinImageButton, QToolButton[skin="image"] {
            color: white; border: 1px solid transparent; border-radius: 4px;
            background: transparent; padding: 2px;
        }
        QToolButton[skin="image"]:hover { background: rgba(255,255,255,28);
            border-color: rgba(255,255,255,60); }
        QToolButton[skin="image"]:pressed { background: rgba(0,0,0,50); }
        QToolButton[skin="image"]:disabled { color: rgba(255,255,255,90); }
        QToolButton[skin="menu"] { color: white; border: none; background: transparent;
            padding: 2px 10px; font-size: 10pt; }
        QToolButton[skin="menu"]:hover { background: rgba(255,255,255,30); border-radius: 3px; }
        QPushButton { color: white; background: #2f5d94; border: 1px solid #5d86b8;
            border-radius: 3px; padding: 3px 12px; }
        QPushButton:hover { background: #3a6ea9; }
        QPushButton:pressed { background: #234a78; }
        QPushButton:disabled { color: #8aa0bb; background: #2a4a70; }
        QLabel { color: white; }
        QLineEdit { background: rgb(246,247,248); color: black; border: 1px solid #7a8ea8;
            border-radius: 2px; }
        QMenu { background: #f6f7f8; color: black; border: 1px solid #5d7898; }
        QMenu::item { padding: 4px 24px 4px 20px; }
        QMenu::item:selected { background: rgb(185,204,236); color: black; }
        QMenu::item:disabled { color: #9aa4b0; }
        QMenu::separator { height: 1px; background: #c6ced8; margin: 3px 6px; }
        QCheckBox { color: white; }
        QMessageBox, QDialog { background: rgb(24,52,91); }
        QMessageBox QLabel { color: white; }
    )";
}

TImageButton::TImageButton(const QString& objectName, const QString& caption,
                           const QString& iconName, int width, int height, int iconSize,
                           QWidget* parent)
    : QToolButton(parent) {
    setObjectName(objectName);
    setProperty("skin", "image");
    setFixedSize(width, height);
    setIcon(Icon(iconName, iconSize));
    setIconSize(QSize(iconSize, iconSize));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    if (caption.isEmpty()) {
        setToolButtonStyle(Qt::ToolButtonIconOnly);
    } else {
        setText(caption);
        setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    }
}

TMenuRowButton::TMenuRowButton(const QString& objectName, const QString& caption, QWidget* parent)
    : QToolButton(parent) {
    setObjectName(objectName);
    setProperty("skin", "menu");
    setText(caption);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

} // namespace skin
