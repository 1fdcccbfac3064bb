#pragma once

#include <QObject>
#include <QString>
#include <memory>

class ModelContext;

// Opens (or creates) the SQLite store and hands out its main context.
class ModelContainer : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *schemaVersion = "1.0.0";

    // The default store file: <XDG data dir>/Bramble/Bramble.sqlite.
    static QString defaultStorePath();

    // Opens the store at path, creating it when the file does not exist. Returns null and sets
    // error when the file is not a store of ours or comes from a newer version; such a file is
    // left exactly as it was.
    static std::unique_ptr<ModelContainer> open(const QString &path, QString *error);

    ~ModelContainer() override;

    ModelContext *mainContext() const { return m_context; }
    QString path() const { return m_path; }

private:
    ModelContainer(const QString &path, const QString &connectionName);

    QString m_path;
    QString m_connectionName;
    ModelContext *m_context = nullptr;
};
