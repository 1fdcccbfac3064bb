// bramble-render-icon: draws the application's SVG icon as the PNG sizes of the hicolor icon
// theme, so the installed icon looks right where a desktop does not scale SVG itself.
//
//   bramble-render-icon ICON.svg OUTDIR NAME SIZE...
//
// writes OUTDIR/<SIZE>x<SIZE>/apps/NAME.png for each size.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

namespace {
int fail(const QString &message)
{
    QTextStream(stderr) << "bramble-render-icon: " << message << Qt::endl;
    return 1;
}
} // namespace

int main(int argc, char **argv)
{
    // Runs during the build, where there may be no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 5)
        return fail(QStringLiteral("usage: bramble-render-icon ICON.svg OUTDIR NAME SIZE..."));

    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid())
        return fail(arguments.at(1) + QStringLiteral(" is not a valid SVG file"));
    const QString outDir = arguments.at(2);
    const QString name = arguments.at(3);
    for (qsizetype i = 4; i < arguments.size(); ++i) {
        bool ok = false;
        const int size = arguments.at(i).toInt(&ok);
        if (!ok || size < 1 || size > 4096)
            return fail(QStringLiteral("bad size ") + arguments.at(i));
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!QDir().mkpath(folder) || !image.save(path, "PNG"))
            return fail(QStringLiteral("cannot write ") + path);
    }
    return 0;
}
