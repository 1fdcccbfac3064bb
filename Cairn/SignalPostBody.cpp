#include "Cairn/SignalPostBody.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace Cairn {

namespace {
    constexpr qint64 referenceDateOffsetMSecs = 978307200000LL; // 2001-01-01T00:00:00Z since 1970
} // namespace

QString SignalPostBody::description() const
{
    QString text
        = QStringLiteral("SignalPostBody(receivedAt: %1, appID: %2, clientUser: %3, sessionID: %4, type: %5, "
                         "floatValue: %6, isTestMode: %7, payload: [")
              .arg(wireDate(receivedAt), appID, clientUser, sessionID, type,
                  floatValue ? QString::number(*floatValue, 'g', 17) : QStringLiteral("nil"), isTestMode);
    bool first = true;
    for (const auto &[key, value] : payload.entries()) {
        if (!first)
            text += QStringLiteral(", ");
        first = false;
        text += QStringLiteral("\"") + fromUtf8(key) + QStringLiteral("\": \"") + fromUtf8(value)
            + QStringLiteral("\"");
    }
    text += QStringLiteral("])");
    return text;
}

QString wireDate(const QDateTime &moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) + QStringLiteral("+0000");
}

double referenceDateSeconds(const QDateTime &moment)
{
    return double(moment.toMSecsSinceEpoch() - referenceDateOffsetMSecs) / 1000.0;
}

QDateTime fromReferenceDateSeconds(double seconds)
{
    // Beyond this the milliseconds since 1970 no longer fit, here or when written back.
    if (!std::isfinite(seconds) || std::fabs(seconds) > maxReferenceDateSeconds)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(
        qint64(std::llround(seconds * 1000.0)) + referenceDateOffsetMSecs, Qt::UTC);
}

namespace {
    template<typename Json> Json recordJson(const SignalPostBody &record, Json receivedAt)
    {
        Json object = Json::object();
        object["receivedAt"] = std::move(receivedAt);
        object["appID"] = utf8(record.appID);
        object["clientUser"] = utf8(record.clientUser);
        object["sessionID"] = utf8(record.sessionID);
        object["type"] = utf8(record.type);
        if (record.floatValue)
            object["floatValue"] = *record.floatValue;
        Json payload = Json::object();
        for (const auto &[key, value] : record.payload.entries())
            payload[key] = value;
        object["payload"] = std::move(payload);
        object["isTestMode"] = utf8(record.isTestMode);
        return object;
    }

    QByteArray dumpBytes(const nlohmann::ordered_json &json)
    {
        const std::string text = json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        return QByteArray(text.data(), qsizetype(text.size()));
    }
} // namespace

nlohmann::ordered_json toWireJson(const SignalPostBody &record)
{
    return recordJson<nlohmann::ordered_json>(record, utf8(wireDate(record.receivedAt)));
}

QByteArray encodeWireBatch(const SignalBatch &batch)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto &record : batch)
        array.push_back(toWireJson(record));
    return dumpBytes(array);
}

namespace {

    void appendJsonString(std::string &out, const std::string &text)
    {
        static const char hex[] = "0123456789abcdef";
        out.push_back('"');
        size_t runStart = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c != '"' && c != '\\' && c >= 0x20)
                continue;
            out.append(text, runStart, i - runStart);
            runStart = i + 1;
            out.push_back('\\');
            switch (c) {
            case '"':
                out.push_back('"');
                break;
            case '\\':
                out.push_back('\\');
                break;
            case '\n':
                out.push_back('n');
                break;
            case '\r':
                out.push_back('r');
                break;
            case '\t':
                out.push_back('t');
                break;
            case '\b':
                out.push_back('b');
                break;
            case '\f':
                out.push_back('f');
                break;
            default:
                out.append("u00");
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 0xF]);
            }
        }
        out.append(text, runStart, std::string::npos);
        out.push_back('"');
    }

    void appendJsonString(std::string &out, const QString &text)
    {
        appendJsonString(out, utf8(text));
    }

    void appendJsonNumber(std::string &out, double value)
    {
        if (!std::isfinite(value)) {
            out.append("null");
            return;
        }
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out.append(buffer, result.ptr);
    }

    // A small JSON reader for the cache file: strict about structure, fast on long arrays.
    class CacheReader
    {
    public:
        CacheReader(const char *begin, const char *end)
            : m_p(begin)
            , m_end(end)
        { }

        std::optional<SignalBatch> read()
        {
            SignalBatch records;
            skipSpace();
            if (!take('['))
                return std::nullopt;
            skipSpace();
            if (take(']'))
                return finish(std::move(records));
            while (true) {
                SignalPostBody record;
                if (!readRecord(record))
                    return std::nullopt;
                records.push_back(std::move(record));
                skipSpace();
                if (take(','))
                    continue;
                if (take(']'))
                    return finish(std::move(records));
                return std::nullopt;
            }
        }

    private:
        std::optional<SignalBatch> finish(SignalBatch records)
        {
            skipSpace();
            if (m_p != m_end)
                return std::nullopt;
            return records;
        }

        void skipSpace()
        {
            while (m_p != m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
                ++m_p;
        }

        bool take(char c)
        {
            if (m_p != m_end && *m_p == c) {
                ++m_p;
                return true;
            }
            return false;
        }

        bool takeWord(const char *word)
        {
            const size_t n = std::strlen(word);
            if (size_t(m_end - m_p) < n || std::memcmp(m_p, word, n) != 0)
                return false;
            m_p += n;
            return true;
        }

        static int hexValue(char c)
        {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return -1;
        }

        bool readHex4(unsigned &value)
        {
            if (m_end - m_p < 4)
                return false;
            value = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = hexValue(m_p[i]);
                if (digit < 0)
                    return false;
                value = value * 16 + unsigned(digit);
            }
            m_p += 4;
            return true;
        }

        static void appendUtf8(std::string &out, unsigned cp)
        {
            if (cp < 0x80) {
                out.push_back(char(cp));
            } else if (cp < 0x800) {
                out.push_back(char(0xC0 | (cp >> 6)));
                out.push_back(char(0x80 | (cp & 0x3F)));
            } else if (cp < 0x10000) {
                out.push_back(char(0xE0 | (cp >> 12)));
                out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
                out.push_back(char(0x80 | (cp & 0x3F)));
            } else {
                out.push_back(char(0xF0 | (cp >> 18)));
                out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
                out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
                out.push_back(char(0x80 | (cp & 0x3F)));
            }
        }

        bool readString(std::string &out)
        {
            out.clear();
            if (!take('"'))
                return false;
            const char *runStart = m_p;
            while (m_p != m_end) {
                const unsigned char c = static_cast<unsigned char>(*m_p);
                if (c == '"') {
                    out.append(runStart, m_p);
                    ++m_p;
                    return true;
                }
                if (c < 0x20)
                    return false;
                if (c != '\\') {
                    ++m_p;
                    continue;
                }
                out.append(runStart, m_p);
                ++m_p;
                if (m_p == m_end)
                    return false;
                const char e = *m_p++;
                switch (e) {
                case '"':
                    out.push_back('"');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                case '/':
                    out.push_back('/');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    unsigned cp = 0;
                    if (!readHex4(cp))
                        return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        unsigned low = 0;
                        if (!takeWord("\\u") || !readHex4(low) || low < 0xDC00 || low > 0xDFFF)
                            return false;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return false;
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    return false;
                }
                runStart = m_p;
            }
            return false;
        }

        bool readNumber(double &value)
        {
            const char *start = m_p;
            if (m_p != m_end && *m_p == '-')
                ++m_p;
            while (m_p != m_end
                && ((*m_p >= '0' && *m_p <= '9') || *m_p == '.' || *m_p == 'e' || *m_p == 'E' || *m_p == '+'
                    || *m_p == '-'))
                ++m_p;
            if (m_p == start)
                return false;
            const auto result = std::from_chars(start, m_p, value);
            return result.ec == std::errc() && result.ptr == m_p;
        }

        // Any JSON value, discarded (keys this version does not know).
        bool skipValue(int depth = 0)
        {
            if (depth > 64)
                return false;
            skipSpace();
            if (m_p == m_end)
                return false;
            std::string ignored;
            double number = 0;
            switch (*m_p) {
            case '"':
                return readString(ignored);
            case '{':
            case '[': {
                const char close = *m_p == '{' ? '}' : ']';
                const bool object = close == '}';
                ++m_p;
                skipSpace();
                if (take(close))
                    return true;
                while (true) {
                    skipSpace();
                    if (object) {
                        if (!readString(ignored))
                            return false;
                        skipSpace();
                        if (!take(':'))
                            return false;
                    }
                    if (!skipValue(depth + 1))
                        return false;
                    skipSpace();
                    if (take(','))
                        continue;
                    return take(close);
                }
            }
            case 't':
                return takeWord("true");
            case 'f':
                return takeWord("false");
            case 'n':
                return takeWord("null");
            default:
                return readNumber(number);
            }
        }

        bool readPayload(SignalPayload &payload)
        {
            std::vector<SignalPayload::Entry> entries;
            entries.reserve(72);
            if (!take('{'))
                return false;
            skipSpace();
            if (!take('}')) {
                while (true) {
                    SignalPayload::Entry entry;
                    skipSpace();
                    if (!readString(entry.first))
                        return false;
                    skipSpace();
                    if (!take(':'))
                        return false;
                    skipSpace();
                    if (!readString(entry.second))
                        return false;
                    entries.push_back(std::move(entry));
                    skipSpace();
                    if (take(','))
                        continue;
                    if (take('}'))
                        break;
                    return false;
                }
            }
            payload = SignalPayload::fromEntries(std::move(entries));
            return true;
        }

        bool readRecord(SignalPostBody &record)
        {
            enum : unsigned {
                ReceivedAt = 1,
                AppID = 2,
                ClientUser = 4,
                SessionID = 8,
                Type = 16,
                Payload = 32,
                TestMode = 64,
                All = 127
            };
            unsigned seen = 0;
            skipSpace();
            if (!take('{'))
                return false;
            skipSpace();
            if (take('}'))
                return false;
            while (true) {
                skipSpace();
                if (!readString(m_key))
                    return false;
                skipSpace();
                if (!take(':'))
                    return false;
                skipSpace();
                const auto text = [&](QString &out, unsigned bit) {
                    if (!readString(m_value))
                        return false;
                    out = fromUtf8(m_value);
                    seen |= bit;
                    return true;
                };
                bool ok = true;
                if (m_key == "receivedAt") {
                    double seconds = 0;
                    ok = readNumber(seconds);
                    record.receivedAt = fromReferenceDateSeconds(seconds);
                    ok = ok && record.receivedAt.isValid();
                    seen |= ReceivedAt;
                } else if (m_key == "appID") {
                    ok = text(record.appID, AppID);
                } else if (m_key == "clientUser") {
                    ok = text(record.clientUser, ClientUser);
                } else if (m_key == "sessionID") {
                    ok = text(record.sessionID, SessionID);
                } else if (m_key == "type") {
                    ok = text(record.type, Type);
                } else if (m_key == "isTestMode") {
                    ok = text(record.isTestMode, TestMode);
                } else if (m_key == "floatValue") {
                    if (takeWord("null")) {
                        record.floatValue.reset();
                    } else {
                        double value = 0;
                        ok = readNumber(value);
                        record.floatValue = value;
                    }
                } else if (m_key == "payload") {
                    ok = readPayload(record.payload);
                    seen |= Payload;
                } else {
                    ok = skipValue();
                }
                if (!ok)
                    return false;
                skipSpace();
                if (take(','))
                    continue;
                if (take('}'))
                    return seen == All;
                return false;
            }
        }

        const char *m_p;
        const char *m_end;
        std::string m_key;
        std::string m_value;
    };

} // namespace

void appendCacheRecord(std::string &out, const SignalPostBody &record)
{
    out.append("{\"receivedAt\":");
    appendJsonNumber(out, referenceDateSeconds(record.receivedAt));
    out.append(",\"appID\":");
    appendJsonString(out, record.appID);
    out.append(",\"clientUser\":");
    appendJsonString(out, record.clientUser);
    out.append(",\"sessionID\":");
    appendJsonString(out, record.sessionID);
    out.append(",\"type\":");
    appendJsonString(out, record.type);
    if (record.floatValue) {
        out.append(",\"floatValue\":");
        appendJsonNumber(out, *record.floatValue);
    }
    out.append(",\"payload\":{");
    bool first = true;
    for (const auto &[key, value] : record.payload.entries()) {
        if (!first)
            out.push_back(',');
        first = false;
        appendJsonString(out, key);
        out.push_back(':');
        appendJsonString(out, value);
    }
    out.append("},\"isTestMode\":");
    appendJsonString(out, record.isTestMode);
    out.push_back('}');
}

QByteArray encodeCacheFile(const SignalBatch &records)
{
    std::string out;
    out.reserve(records.size() * 2600 + 2);
    out.push_back('[');
    for (size_t i = 0; i < records.size(); ++i) {
        if (i)
            out.push_back(',');
        appendCacheRecord(out, records[i]);
    }
    out.push_back(']');
    return QByteArray(out.data(), qsizetype(out.size()));
}

std::optional<SignalBatch> decodeCacheFile(const QByteArray &bytes)
{
    return CacheReader(bytes.constData(), bytes.constData() + bytes.size()).read();
}

} // namespace Cairn
