#include "editing/LayerPictures.h"

#include "editing/FrameRenderer.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

QImage TextLayerPicture(const std::string& text, const TWmFont& font, bool useBack, uint32_t back) {
    const QFont qfont = LayerFont(font);
    const QFontMetrics metrics(qfont);
    const QString qtext = QString::fromStdString(text);
    const QSize size(std::max(1, metrics.horizontalAdvance(qtext)), std::max(1, metrics.height()));
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(useBack ? ResolveColor(back) : QColor(Qt::transparent));
    QPainter p(&picture);
    p.setFont(qfont);
    p.setPen(ResolveColor(font.Color));
    p.drawText(QRect(QPoint(0, 0), size), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, qtext);
    return picture;
}

QImage ShownLayerPicture(const QImage& read) {
    if (read.isNull()) return read;
    return read.convertToFormat(read.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                       : QImage::Format_RGB888);
}
