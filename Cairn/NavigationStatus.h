#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <optional>

namespace Cairn {

// Remembers where the user went last, so a caller may report only the destination.
class NavigationStatus
{
public:
    static NavigationStatus &shared();

    std::optional<QString> previousNavigationPath() const;
    void setPreviousNavigationPath(const std::optional<QString> &path);

private:
    mutable QMutex m_mutex;
    std::optional<QString> m_previousNavigationPath;
};

// A move from one screen to another, as "Cairn.Navigation.pathChanged".
void navigationPathChanged(
    const QString &from, const QString &to, const std::optional<QString> &customUserID = std::nullopt);
// A move to `to` from the last reported destination ("" before the first). Note that two
// texts select the form above: pass the custom user as a std::optional here.
void navigationPathChanged(const QString &to, const std::optional<QString> &customUserID = std::nullopt);

// Reports `path` every time the object it filters is shown (QEvent::Show): a QWidget or a
// QWindow alike.
class TrackNavigationModifier : public QObject
{
    Q_OBJECT
public:
    explicit TrackNavigationModifier(const QString &path, QObject *parent = nullptr);
    QString path() const { return m_path; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const QString m_path;
};

// Installs a TrackNavigationModifier on `view`, owned by it; returns the modifier.
TrackNavigationModifier *trackNavigation(QObject *view, const QString &path);

} // namespace Cairn
