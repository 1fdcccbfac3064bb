#include "TestHttpServer.h"

#include <chrono>
#include <httplib.h>

TestHttpServer::TestHttpServer()
    : m_server(std::make_unique<httplib::Server>())
{ }

TestHttpServer::~TestHttpServer()
{
    stop();
}

httplib::Server &TestHttpServer::server()
{
    return *m_server;
}

bool TestHttpServer::start()
{
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void TestHttpServer::stop()
{
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

QString TestHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}
