#include "Cairn/NavigationStatus.h"

#include "Cairn/Cairn.h"

#include <QEvent>

namespace Cairn {

NavigationStatus &NavigationStatus::shared()
{
    static NavigationStatus instance;
    return instance;
}

std::optional<QString> NavigationStatus::previousNavigationPath() const
{
    QMutexLocker locker(&m_mutex);
    return m_previousNavigationPath;
}

void NavigationStatus::setPreviousNavigationPath(const std::optional<QString> &path)
{
    QMutexLocker locker(&m_mutex);
    m_previousNavigationPath = path;
}

void navigationPathChanged(const QString &from, const QString &to, const std::optional<QString> &customUserID)
{
    NavigationStatus::shared().setPreviousNavigationPath(to);
    recordSignal(QStringLiteral("Cairn.Navigation.pathChanged"),
        { { QStringLiteral("Cairn.Navigation.schemaVersion"), QStringLiteral("1") },
            { QStringLiteral("Cairn.Navigation.identifier"), from + QStringLiteral(" -> ") + to },
            { QStringLiteral("Cairn.Navigation.sourcePath"), from },
            { QStringLiteral("Cairn.Navigation.destinationPath"), to } },
        std::nullopt, customUserID);
}

void navigationPathChanged(const QString &to, const std::optional<QString> &customUserID)
{
    navigationPathChanged(
        NavigationStatus::shared().previousNavigationPath().value_or(QString()), to, customUserID);
}

TrackNavigationModifier::TrackNavigationModifier(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
{ }

bool TrackNavigationModifier::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show)
        navigationPathChanged(m_path);
    return QObject::eventFilter(watched, event);
}

TrackNavigationModifier *trackNavigation(QObject *view, const QString &path)
{
    if (!view)
        return nullptr;
    auto *modifier = new TrackNavigationModifier(path, view);
    view->installEventFilter(modifier);
    return modifier;
}

} // namespace Cairn
