#pragma once

#include "support/TestHttpServer.h"

#include <Cairn/Cairn.h>
#include <Cairn/ClientDefaults.h>
#include <Cairn/LogHandler.h>
#include <Cairn/SignalCache.h>
#include <Cairn/SignalManager.h>
#include <Cairn/TelemetryManager.h>
#include <Cairn/TelemetryManagerConfiguration.h>
#include <QMutex>
#include <QStringList>
#include <QUuid>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

// Collects every log line the client writes, from any thread. The handler shares the
// collector's state, so a manager that outlives the collector still logs safely.
class LogCollector
{
public:
    Cairn::LogHandler handler(Cairn::LogLevel level = Cairn::LogLevel::debug)
    {
        return Cairn::LogHandler { level, [state = m_state](Cairn::LogLevel l, const QString &message) {
                                      QMutexLocker locker(&state->mutex);
                                      state->lines.append(
                                          Cairn::logLevelName(l) + QStringLiteral(": ") + message);
                                  } };
    }
    QStringList lines() const
    {
        QMutexLocker locker(&m_state->mutex);
        QStringList copy = m_state->lines;
        copy.detach(); // our own buffer, so the writer never reallocates one we still read
        return copy;
    }
    int count(const QString &line) const { return int(lines().count(line)); }
    int countContaining(const QString &part) const
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.contains(part) ? 1 : 0;
        return n;
    }
    void clear()
    {
        QMutexLocker locker(&m_state->mutex);
        m_state->lines.clear();
    }

private:
    struct State
    {
        QMutex mutex;
        QStringList lines;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// A telemetry service on 127.0.0.1 that records each POST and answers with queued statuses
// (200 once the queue is empty), or with what a responder function says. While held it
// answers nothing until released, then 503.
class FakeTelemetryService
{
public:
    struct Request
    {
        std::string path;
        std::string body;
        std::string contentType;
        int status = 0;
        nlohmann::json records() const { return nlohmann::json::parse(body); }
    };
    using Responder = std::function<int(const nlohmann::json &records)>;

    FakeTelemetryService()
    {
        m_server.server().Post(
            R"(/.*)", [this](const httplib::Request &request, httplib::Response &response) {
                size_t index = 0;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    index = m_requests.size();
                    m_requests.push_back(
                        Request { request.path, request.body, request.get_header_value("Content-Type") });
                }
                m_changed.notify_all();
                std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs.load()));
                std::unique_lock<std::mutex> lock(m_mutex);
                int status = 200;
                if (m_held) {
                    m_changed.wait_for(lock, std::chrono::seconds(20), [this] { return !m_held; });
                    status = 503;
                } else if (!m_statuses.empty()) {
                    status = m_statuses.front();
                    m_statuses.pop_front();
                } else if (m_responder) {
                    status = m_responder(nlohmann::json::parse(request.body, nullptr, false));
                }
                m_requests[index].status = status;
                response.status = status;
                response.set_content(
                    status == 200 ? R"({"status":"ok"})" : R"({"error":"no"})", "application/json");
            });
    }
    ~FakeTelemetryService() { release(); }
    bool start() { return m_server.start(); }
    QUrl url() const { return QUrl(m_server.url()); }
    // Each answer waits this long after the request was recorded.
    void setResponseDelay(std::chrono::milliseconds delay) { m_delayMs.store(int(delay.count())); }
    void queueStatuses(std::initializer_list<int> statuses)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_statuses.insert(m_statuses.end(), statuses);
    }
    void setResponder(Responder responder)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_responder = std::move(responder);
    }
    void hold()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = true;
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_held = false;
        }
        m_changed.notify_all();
    }
    std::vector<Request> requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    int requestCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_requests.size());
    }
    // The records of every request answered 200, in arrival order.
    std::vector<nlohmann::json> accepted() const
    {
        std::vector<nlohmann::json> records;
        for (const auto &request : requests()) {
            if (request.status != 200)
                continue;
            for (const auto &record : request.records())
                records.push_back(record);
        }
        return records;
    }
    void clear()
    {
        release();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
        m_statuses.clear();
        m_responder = nullptr;
        m_delayMs.store(0);
    }

private:
    TestHttpServer m_server;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Request> m_requests;
    std::deque<int> m_statuses;
    Responder m_responder;
    bool m_held = false;
    std::atomic<int> m_delayMs { 0 };
};

// A configuration for tests: a fresh application identifier unless one is given, the
// session start pushed out of the way, the timer slowed to an hour unless asked otherwise.
inline Cairn::ConfigurationPtr testConfiguration(const QUrl &baseURL, LogCollector *log = nullptr,
    const QString &appID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
{
    auto config = std::make_shared<Cairn::TelemetryManagerConfiguration>(appID, QString(), baseURL);
    config->setSendInterval(std::chrono::hours(1));
    config->setSessionStartDelay(std::chrono::hours(1));
    if (log)
        config->setLogHandler(log->handler());
    else
        config->setLogHandler(std::nullopt);
    return config;
}

inline Cairn::SignalBatch pendingRecords()
{
    const auto manager = Cairn::installedManager();
    return manager ? manager->signalManager().cache()->snapshot() : Cairn::SignalBatch {};
}

// Initialises, then waits until the sender has started and run its first, immediate round, so
// that a test's own signals are not taken by that round.
inline void initializeSettled(const Cairn::ConfigurationPtr &config)
{
    Cairn::initialize(config);
    Cairn::installedManager()->signalManager().waitForSender();
}

inline int inFlightRecords()
{
    const auto manager = Cairn::installedManager();
    return manager ? manager->signalManager().cache()->inFlightCount() : 0;
}
