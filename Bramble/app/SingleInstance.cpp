#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <cstdio>
#include <unistd.h>

namespace {
const QByteArray activateMessage = "activate\n";
const QByteArray acknowledgement = "ok\n";

QString storeKey(const QString &storePath)
{
    const QString absolute = QFileInfo(storePath).absoluteFilePath();
    return QString::fromLatin1(
        QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}
} // namespace

SingleInstance::SingleInstance(const QString &storePath, QObject *parent)
    : QObject(parent)
    , m_storePath(storePath)
{ }

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
    if (m_lock)
        m_lock->unlock();
}

QString SingleInstance::lockFilePath(const QString &storePath)
{
    return QFileInfo(storePath).absoluteFilePath() + QStringLiteral(".lock");
}

QString SingleInstance::serverName(const QString &storePath)
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir())
        return QStringLiteral("%1/bramble-%2.socket").arg(runtimeDir, storeKey(storePath));
    return QStringLiteral("%1/bramble-%2-%3.socket")
        .arg(QDir::tempPath())
        .arg(::getuid())
        .arg(storeKey(storePath));
}

SingleInstance::Role SingleInstance::acquire(bool listen)
{
    const QString path = lockFilePath(m_storePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_lock = std::make_unique<QLockFile>(path);
    // Never stale by age: a lock is stale only when the process that took it is gone.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        if (listen)
            startListening();
        return Role::Primary;
    }
    if (m_lock->error() == QLockFile::LockFailedError)
        return Role::Secondary;
    m_lock.reset();
    return Role::Unavailable;
}

void SingleInstance::startListening()
{
    const QString name = serverName(m_storePath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left behind belongs to a process that is gone.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        std::fprintf(
            stderr, "Could not listen for other launches: %s\n", qPrintable(m_server->errorString()));
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    if (socket->readLine() == activateMessage) {
                        Q_EMIT activationRequested();
                        socket->write(acknowledgement);
                        socket->flush();
                    }
                }
                // Nobody has a reason to send more than a line.
                if (socket->bytesAvailable() > 256)
                    socket->abort();
            });
        }
    });
}

bool SingleInstance::activatePrimary(int timeoutMs)
{
    const QString name = serverName(m_storePath);
    const QDeadlineTimer deadline(timeoutMs);
    // The primary may have taken the lock a moment ago and not be listening yet.
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
            socket.write(activateMessage);
            if (!socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
                return false;
            while (!socket.canReadLine()) {
                if (!socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                    return false;
            }
            return socket.readLine() == acknowledgement;
        }
        QThread::msleep(100);
    }
    return false;
}
