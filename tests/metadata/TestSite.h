#pragma once

#include "support/TestHttpServer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <unistd.h>

// A loopback HTTP site that remembers every request path it was asked for.
class TestSite
{
public:
    TestSite()
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
    TestHttpServer m_http;
    mutable std::mutex m_mutex;
    QStringList m_requests;
};

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
