// Renders the tray icon's PNG sizes from the SVG with Qt's own SVG renderer (see render-pngs.sh).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fputs("usage: render_pngs ICON.svg OUTPUT-PREFIX\n", stderr);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) return 1;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        if (!image.save(
                QStringLiteral("%1-%2.png").arg(QString::fromLocal8Bit(argv[2])).arg(size))) {
            return 1;
        }
    }
    return 0;
}
