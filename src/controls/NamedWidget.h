// Naming a child control as it is made: the object name the windows and
// their tests find it by, and the accessible name screen readers announce.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

// The accessible name of a caption: its text without the "&" of the
// keyboard shortcut.
inline QString AccessibleCaption(const QString& caption) {
    return QString(caption).remove('&');
}

template <class W> W* Named(W* widget, const QString& name, const QString& accessible) {
    widget->setObjectName(name);
    widget->setAccessibleName(accessible);
    return widget;
}

// The same, placed at `geometry` in its parent.
template <class W>
W* Named(W* widget, const QString& name, const QString& accessible, const QRect& geometry) {
    Named(widget, name, accessible)->setGeometry(geometry);
    return widget;
}
