#include "ContentDecoder.h"

#include <QList>
#include <zlib.h>

struct ContentDecoder::Stream
{
    z_stream z {};
    bool open = false;
    ~Stream()
    {
        if (open)
            inflateEnd(&z);
    }
};

const QByteArray ContentDecoder::acceptEncoding = QByteArrayLiteral("gzip, deflate");

std::unique_ptr<ContentDecoder> ContentDecoder::forEncoding(const QByteArray &contentEncoding)
{
    QList<QByteArray> codings;
    for (const QByteArray &coding : contentEncoding.split(',')) {
        const QByteArray name = coding.trimmed().toLower();
        if (!name.isEmpty() && name != "identity")
            codings.append(name);
    }
    if (codings.size() != 1)
        return nullptr;
    if (codings.first() == "gzip" || codings.first() == "x-gzip")
        return std::unique_ptr<ContentDecoder>(new ContentDecoder(true));
    if (codings.first() == "deflate")
        return std::unique_ptr<ContentDecoder>(new ContentDecoder(false));
    return nullptr;
}

ContentDecoder::ContentDecoder(bool gzip)
    : m_stream(std::make_unique<Stream>())
    , m_gzip(gzip)
{ }

ContentDecoder::~ContentDecoder() = default;

ContentDecoder::Status ContentDecoder::feed(QByteArrayView bytes, QByteArray &out, qint64 room)
{
    if (m_status != Status::More)
        return m_status;
    if (!m_started) {
        int windowBits = 15 + 32; // zlib or gzip framing, told apart by their headers
        if (!m_gzip) {
            // "deflate" should be zlib-framed, but some servers send the bare stream.
            m_header.append(bytes.data(), bytes.size());
            if (m_header.size() < 2)
                return Status::More;
            const uchar first = uchar(m_header[0]), second = uchar(m_header[1]);
            const bool zlibFramed = (first & 0x0f) == Z_DEFLATED && (first * 256 + second) % 31 == 0;
            if (!zlibFramed)
                windowBits = -15;
        }
        if (inflateInit2(&m_stream->z, windowBits) != Z_OK)
            return m_status = Status::Broken;
        m_stream->open = true;
        m_started = true;
        if (!m_gzip) {
            const QByteArray header = std::move(m_header);
            return m_status = inflateSome(header, out, room);
        }
    }
    return m_status = inflateSome(bytes, out, room);
}

ContentDecoder::Status ContentDecoder::inflateSome(QByteArrayView bytes, QByteArray &out, qint64 room)
{
    z_stream &z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    char buffer[16384];
    while (true) {
        z.next_out = reinterpret_cast<Bytef *>(buffer);
        z.avail_out = sizeof buffer;
        const int result = inflate(&z, Z_NO_FLUSH);
        const qint64 produced = qint64(sizeof buffer - z.avail_out);
        if (produced > room) {
            out.append(buffer, qsizetype(room));
            return Status::Full;
        }
        out.append(buffer, qsizetype(produced));
        room -= produced;
        if (result == Z_STREAM_END) {
            // A gzip body may hold several members one after the other.
            if (m_gzip && z.avail_in > 0 && inflateReset(&z) == Z_OK)
                continue;
            return Status::Ended;
        }
        if (result == Z_BUF_ERROR)
            return Status::More; // needs more input
        if (result != Z_OK)
            return Status::Broken;
        if (z.avail_in == 0 && z.avail_out != 0)
            return Status::More;
    }
}
