#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// Makes sure only one process works on a store. The first process takes a lock next to the
// store file and listens on a per-user local socket; a later process finds the lock taken,
// asks the first one through the socket to bring its window to the front, and exits.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        Primary, // we hold the lock and listen for later launches
        Secondary, // another process holds the lock
        Unavailable, // the lock could not be created at all (no writable folder)
    };

    explicit SingleInstance(const QString &storePath, QObject *parent = nullptr);
    ~SingleInstance() override;

    // With listen false the lock is taken but later launches get no answer: for short-lived
    // commands that must keep the app away from the store without standing in for it.
    Role acquire(bool listen = true);
    // As a secondary: asks the primary to show its window. Blocks for at most timeoutMs;
    // returns whether the primary answered.
    bool activatePrimary(int timeoutMs = 5000);

    static QString lockFilePath(const QString &storePath);
    // The socket path: in XDG_RUNTIME_DIR when there is one, else in the temporary folder,
    // named after the user and the store.
    static QString serverName(const QString &storePath);

Q_SIGNALS:
    // Another launch asked for the window.
    void activationRequested();

private:
    void startListening();

    QString m_storePath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
