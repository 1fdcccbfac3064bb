#include "ui/Symbols.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>
#include <optional>

static void initResources()
{
    // The resources live in a static library; without this the linker may drop them.
    Q_INIT_RESOURCE(resources);
}

namespace {

QString resourcePath(const QString &name)
{
    return QStringLiteral(":/icons/%1.svg").arg(name);
}

// Raw SVG text per symbol, read once.
const QByteArray &svgTemplate(const QString &name)
{
    static QHash<QString, QByteArray> cache;
    static const QByteArray empty;
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return empty;
    auto it = cache.find(name);
    if (it == cache.end()) {
        initResources();
        QFile file(resourcePath(name));
        QByteArray data;
        if (file.open(QIODevice::ReadOnly))
            data = file.readAll();
        it = cache.insert(name, data);
    }
    return it.value();
}

void renderSymbol(QPainter *painter, const QRectF &rect, const QByteArray &svg, const QColor &color)
{
    QByteArray tinted = svg;
    tinted.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(tinted);
    if (!renderer.isValid())
        return;
    // Keep the drawing square and centred whatever the target shape.
    const qreal side = qMin(rect.width(), rect.height());
    const QRectF target(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter->save();
    painter->setOpacity(painter->opacity() * color.alphaF());
    renderer.render(painter, target);
    painter->restore();
}

QPixmap renderPixmap(const QByteArray &svg, const QSize &size, const QColor &color, qreal dpr)
{
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    if (size.isEmpty())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderSymbol(&painter, QRectF(QPointF(0, 0), QSizeF(size)), svg, color);
    return pixmap;
}

class SymbolIconEngine : public QIconEngine
{
public:
    SymbolIconEngine(const QString &name, std::optional<QColor> color)
        : m_name(name)
        , m_color(color)
    { }

    QIconEngine *clone() const override { return new SymbolIconEngine(m_name, m_color); }
    QString key() const override { return QStringLiteral("BrambleSymbol"); }
    QString iconName() override { return m_name; }
    bool isNull() override { return svgTemplate(m_name).isEmpty(); }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = qMin(size.width(), size.height());
        return QSize(side, side);
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, cachedPixmap(rect.size(), mode, state, dpr));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return cachedPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return cachedPixmap(size, mode, state, scale);
    }

private:
    QColor colorFor(QIcon::Mode mode) const
    {
        const QPalette palette = QGuiApplication::palette();
        QColor color;
        if (m_color) {
            color = *m_color;
        } else if (mode == QIcon::Selected) {
            color = palette.color(QPalette::Active, QPalette::HighlightedText);
        } else {
            color = palette.color(QPalette::Active, QPalette::WindowText);
        }
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.35f);
        return color;
    }

    QPixmap cachedPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal dpr)
    {
        const QColor color = colorFor(mode);
        const QString key
            = QStringLiteral("%1x%2@%3/%4").arg(size.width()).arg(size.height()).arg(dpr).arg(color.rgba());
        auto it = m_cache.find(key);
        if (it != m_cache.end())
            return it.value();
        if (m_cache.size() > 32)
            m_cache.clear();
        QPixmap pixmap = renderPixmap(svgTemplate(m_name), size, color, dpr);
        m_cache.insert(key, pixmap);
        return pixmap;
    }

    QString m_name;
    std::optional<QColor> m_color;
    QHash<QString, QPixmap> m_cache;
};

} // namespace

QStringList Symbols::names()
{
    initResources();
    QStringList result;
    const QStringList files
        = QDir(QStringLiteral(":/icons")).entryList({ QStringLiteral("*.svg") }, QDir::Files);
    for (const QString &file : files) {
        const QString name = file.chopped(4);
        if (name != QLatin1String("bramble"))
            result << name;
    }
    result.sort();
    return result;
}

bool Symbols::contains(const QString &name)
{
    return name != QLatin1String("bramble") && !svgTemplate(name).isEmpty();
}

QIcon Symbols::icon(const QString &name)
{
    if (!contains(name))
        return QIcon();
    return QIcon(new SymbolIconEngine(name, std::nullopt));
}

QIcon Symbols::icon(const QString &name, const QColor &color)
{
    if (!contains(name))
        return QIcon();
    return QIcon(new SymbolIconEngine(name, color));
}

QPixmap Symbols::pixmap(const QString &name, const QSize &size, const QColor &color, qreal devicePixelRatio)
{
    if (!contains(name))
        return QPixmap();
    return renderPixmap(svgTemplate(name), size, color, devicePixelRatio);
}

QIcon Symbols::applicationIcon()
{
    initResources();
    // The installed theme icon is the one the desktop shows for the launcher and the
    // desktop entry; the copy in the resources serves a program run from its build folder.
    return QIcon::fromTheme(QStringLiteral("bramble"), QIcon(resourcePath(QStringLiteral("bramble"))));
}

namespace {
// A tray icon drawn in colour, so it shows on light and dark panels alike (a tray that embeds
// the picture does not recolour a symbolic icon), that still carries the theme's symbolic name
// for the tray hosts that draw icons by name in their panel's own colour.
class TrayIconEngine : public QIconEngine
{
public:
    TrayIconEngine(const QString &name, const QIcon &picture)
        : m_name(name)
        , m_picture(picture)
    { }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        m_picture.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_picture.pixmap(size, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_picture.actualSize(size, mode, state);
    }
    QString iconName() override { return m_name; }
    QString key() const override { return QStringLiteral("BrambleTrayIcon"); }
    QIconEngine *clone() const override { return new TrayIconEngine(m_name, m_picture); }

private:
    QString m_name;
    QIcon m_picture;
};
} // namespace

QIcon Symbols::trayIcon()
{
    initResources();
    const QIcon picture(resourcePath(QStringLiteral("bramble")));
    const QString symbolic = QStringLiteral("bramble-symbolic");
    return QIcon(new TrayIconEngine(QIcon::hasThemeIcon(symbolic) ? symbolic : QString(), picture));
}
