#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <cstdio>
#include <unistd.h>

namespace {
// A connection whose requests are being answered: they are answered in the order they came.
constexpr const char *busyProperty = "brambleAnswering";

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
    release();
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

SingleInstance::Role SingleInstance::acquire()
{
    if (m_lock)
        return Role::Primary;
    const QString path = lockFilePath(m_storePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    auto lock = std::make_unique<QLockFile>(path);
    // Never stale by age: a lock is stale only when the process that took it is gone.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        startListening();
        return Role::Primary;
    }
    return lock->error() == QLockFile::LockFailedError ? Role::Secondary : Role::Unavailable;
}

void SingleInstance::release()
{
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    if (m_lock) {
        m_lock->unlock();
        m_lock.reset();
    }
}

void SingleInstance::setHandler(const QString &command, Handler handler)
{
    m_handlers.insert(command, std::move(handler));
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
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequests(socket); });
        }
    });
}

void SingleInstance::readRequests(QLocalSocket *socket)
{
    // One request at a time per connection: the next is read when this one is answered.
    if (socket->property(busyProperty).toBool())
        return;
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > InstanceProtocol::maxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(InstanceProtocol::maxRequestBytes + 1);
    const std::optional<Message> request = InstanceProtocol::decode(line.trimmed());
    if (!request) {
        socket->write(InstanceProtocol::encode(InstanceProtocol::failure(QStringLiteral("Not a request."))));
        socket->flush();
        return;
    }
    answer(socket, *request);
}

QCoro::Task<> SingleInstance::answer(QLocalSocket *socket, Message request)
{
    QPointer<QLocalSocket> connection(socket);
    QPointer<SingleInstance> self(this);
    socket->setProperty(busyProperty, true);
    const QString command = InstanceProtocol::text(request, "command");
    Message reply;
    if (const Handler handler = m_handlers.value(command)) {
        // Named rather than a temporary inside co_await: g++ 12 mishandles those.
        QCoro::Task<Message> answering = handler(std::move(request));
        reply = co_await answering;
    } else {
        reply = InstanceProtocol::failure(
            QStringLiteral("This Bramble does not know the request \"%1\".").arg(command));
    }
    if (!connection)
        co_return;
    connection->write(InstanceProtocol::encode(reply));
    connection->flush();
    connection->setProperty(busyProperty, false);
    if (self && connection->canReadLine())
        self->readRequests(connection);
}
