#pragma once

#include <QString>
#include <QUrl>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

// A real HTTP server on 127.0.0.1 for tests, on a port the system picks.
// Register handlers on server() before calling start(); they run on the server's threads.
class TestHttpServer
{
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    httplib::Server &server();
    // Binds and starts listening; returns false when no port could be bound.
    bool start();
    void stop();

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by path.
    QString url(const QString &path = QString()) const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = -1;
};
