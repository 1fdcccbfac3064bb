#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <memory>

// Undoes an HTTP content coding (gzip or deflate) as the body arrives, never producing more
// than the caller has room for: a small reply that inflates to gigabytes costs no more than
// the room given.
class ContentDecoder
{
public:
    enum class Status {
        More, // give it the next bytes
        Full, // there was more than the room; out holds as much as fitted
        Ended, // the coded stream is complete
        Broken, // the bytes are not what the coding says; out holds what came before
    };

    // For a Content-Encoding header: null for none or "identity", and for codings it cannot undo
    // (those were not asked for, so the body is passed on as it is).
    static std::unique_ptr<ContentDecoder> forEncoding(const QByteArray &contentEncoding);

    ~ContentDecoder();
    ContentDecoder(const ContentDecoder &) = delete;
    ContentDecoder &operator=(const ContentDecoder &) = delete;

    // Appends what the bytes decode to, at most room bytes, to out.
    Status feed(QByteArrayView bytes, QByteArray &out, qint64 room);

    // What Accept-Encoding offers: exactly what this can undo.
    static const QByteArray acceptEncoding;

private:
    struct Stream;
    explicit ContentDecoder(bool gzip);
    Status inflateSome(QByteArrayView bytes, QByteArray &out, qint64 room);

    std::unique_ptr<Stream> m_stream;
    bool m_gzip;
    bool m_started = false;
    QByteArray m_header; // the first bytes of a deflate body, until they show its framing
    Status m_status = Status::More;
};
