// Build tool: draws an SVG picture into a square PNG of the given size.
//   vantrel-render-icon IN.svg OUT.png SIZE
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <charconv>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    int size = 0;
    if (argc != 4 ||
        std::from_chars(argv[3], argv[3] + std::strlen(argv[3]), size).ec != std::errc() ||
        size < 1 || size > 4096) {
        std::fputs("usage: vantrel-render-icon IN.svg OUT.png SIZE\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "vantrel-render-icon: cannot read %s\n", argv[1]);
        return 1;
    }
    QImage picture(size, size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "vantrel-render-icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
