#pragma once

#include "app/InstanceProtocol.h"

#include <QCoroTask>
#include <QHash>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

// Makes sure only one process works on a store. The process that holds it (the window, or a
// command that changes the library) takes a lock next to the store file and answers the
// requests of InstanceProtocol on a per-user local socket; a later process finds the lock
// taken and talks to the holder through the socket instead of touching the store.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        Primary, // we hold the lock and answer later launches
        Secondary, // another process holds the lock
        Unavailable, // the lock could not be created at all (no writable folder)
    };
    using Message = InstanceProtocol::Message;
    // Answers one request; may take its time (an import), the socket stays open meanwhile.
    using Handler = std::function<QCoro::Task<Message>(Message request)>;

    explicit SingleInstance(const QString &storePath, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock if it is free (or its holder is gone) and starts answering.
    Role acquire();
    bool isPrimary() const { return m_lock != nullptr; }
    // Stops answering and lets go of the lock, for a holder that hands the library on.
    void release();

    // The handler of one command; a request for a command without one is refused.
    void setHandler(const QString &command, Handler handler);

    QString storePath() const { return m_storePath; }
    static QString lockFilePath(const QString &storePath);
    // The socket path: in XDG_RUNTIME_DIR when there is one, else in the temporary folder,
    // named after the user and the store.
    static QString serverName(const QString &storePath);

private:
    void startListening();
    void readRequests(QLocalSocket *socket);
    QCoro::Task<> answer(QLocalSocket *socket, Message request);

    QString m_storePath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    QHash<QString, Handler> m_handlers;
};
