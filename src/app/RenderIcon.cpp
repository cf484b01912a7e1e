// Build-time tool: renders the program's SVG icon to a square PNG, so the PNG sizes the
// desktop asks for always match the drawing.
//   quaddle_render_icon <icon.svg> <size> <out.png>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <icon.svg> <size> <out.png>\n", argv[0]);
        return EXIT_FAILURE;
    }
    // The build may run without a display; painting into an image needs none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    const QString source = QString::fromLocal8Bit(argv[1]);
    bool isNumber = false;
    const int size = QString::fromLocal8Bit(argv[2]).toInt(&isNumber);
    const QString target = QString::fromLocal8Bit(argv[3]);
    QSvgRenderer renderer(source);
    if (!renderer.isValid() || !isNumber || size <= 0) {
        std::fprintf(stderr, "cannot render %s at size %s\n", argv[1], argv[2]);
        return EXIT_FAILURE;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(target, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
