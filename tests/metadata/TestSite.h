#pragma once

#include "support/TestHttpServer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

// The same as TestHttpServer, on the IPv6 loopback address.
class Ipv6HttpServer
{
public:
    Ipv6HttpServer() = default;
    Ipv6HttpServer(const Ipv6HttpServer &) = delete;
    Ipv6HttpServer &operator=(const Ipv6HttpServer &) = delete;
    ~Ipv6HttpServer()
    {
        if (m_thread.joinable()) {
            m_server.stop();
            m_thread.join();
        }
    }

    httplib::Server &server() { return m_server; }
    // False when the machine has no IPv6 loopback.
    bool start()
    {
        m_port = m_server.bind_to_any_port("::1");
        if (m_port <= 0)
            return false;
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
    QString url(const QString &path = QString()) const
    {
        return QStringLiteral("http://[::1]:%1%2").arg(m_port).arg(path);
    }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = -1;
};

// A loopback HTTP site that remembers every request path it was asked for.
template<typename Http> class BasicTestSite
{
public:
    BasicTestSite()
    {
        auto &server = m_http.server();
        // One request per connection: idle keep-alive connections would tie up server threads.
        server.set_keep_alive_max_count(1);
        server.set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &) {
            std::lock_guard lock(m_mutex);
            m_requests.append(QString::fromStdString(request.path));
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }

    httplib::Server &server() { return m_http.server(); }
    bool start() { return m_http.start(); }
    QString url(const QString &path = QString()) const { return m_http.url(path); }

    void serve(const std::string &path, const QByteArray &body, const std::string &contentType = "text/html",
        int status = 200)
    {
        m_http.server().Get(
            path, [body, contentType, status](const httplib::Request &, httplib::Response &res) {
                res.status = status;
                res.set_content(body.toStdString(), contentType);
            });
    }
    // Serves the bytes exactly as given, with a Content-Encoding of their own. (The server
    // compresses text bodies itself when the client offers a coding; a body of known length
    // given through a provider it leaves alone.)
    void serveEncoded(const std::string &path, const QByteArray &body, const std::string &contentEncoding,
        const std::string &contentType = "text/html")
    {
        const auto bytes = std::make_shared<std::string>(body.toStdString());
        m_http.server().Get(
            path, [bytes, contentEncoding, contentType](const httplib::Request &, httplib::Response &res) {
                res.set_header("Content-Encoding", contentEncoding);
                res.set_content_provider(bytes->size(), contentType,
                    [bytes](size_t offset, size_t length, httplib::DataSink &sink) {
                        sink.write(bytes->data() + offset, std::min(length, bytes->size() - offset));
                        return true;
                    });
            });
    }
    void redirect(const std::string &path, const std::string &target)
    {
        m_http.server().Get(
            path, [target](const httplib::Request &, httplib::Response &res) { res.set_redirect(target); });
    }

    QStringList requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    int count(const QString &path) const { return int(requests().count(path)); }

private:
    Http m_http;
    mutable std::mutex m_mutex;
    QStringList m_requests;
};

using TestSite = BasicTestSite<TestHttpServer>;
using Ipv6TestSite = BasicTestSite<Ipv6HttpServer>;

// Collects what the code under test writes to standard output.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        m_file = std::tmpfile();
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(::fileno(m_file), STDOUT_FILENO);
    }
    ~StdoutCapture() { finish(); }

    QStringList lines()
    {
        finish();
        return m_text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    void finish()
    {
        if (!m_file)
            return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        std::rewind(m_file);
        QByteArray bytes;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            bytes.append(buffer, qsizetype(n));
        std::fclose(m_file);
        m_file = nullptr;
        m_text = QString::fromUtf8(bytes);
    }

    std::FILE *m_file = nullptr;
    int m_saved = -1;
    QString m_text;
};
