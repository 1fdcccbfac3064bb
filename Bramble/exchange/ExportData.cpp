#include "ExportData.h"

#include <QDate>
#include <QTime>
#include <cstdio>
#include <new>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

using Json = nlohmann::ordered_json;

// Never null: an empty member is an empty text, and the store refuses null ones.
QString fromUtf8(const std::string &text)
{
    if (text.empty())
        return QString(QLatin1String(""));
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(qint64 days, qint64 *year, int *month, int *day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 monthIndex = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

// Whole seconds in UTC with a "Z"; false for a date without a four-digit year.
bool appendDate(std::string &out, const QDateTime &date)
{
    if (!date.isValid())
        return false;
    const qint64 msecs = date.toMSecsSinceEpoch();
    const qint64 secs = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
    const qint64 days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    const qint64 secondOfDay = secs - days * 86400;
    qint64 year;
    int month, day;
    civilFromDays(days, &year, &month, &day);
    if (year < 1 || year > 9999)
        return false;
    char text[24];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", int(year), month,
        day, int(secondOfDay / 3600), int(secondOfDay / 60 % 60), int(secondOfDay % 60));
    out.append(text, size_t(length));
    return true;
}

void appendString(std::string &out, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    out.push_back('"');
    for (const char c : bytes) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
                out += escaped;
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

// Written by hand rather than through a JSON tree: a large library exports several times faster.
class Writer
{
public:
    explicit Writer(const std::string &exportDate)
        : m_exportDate(exportDate)
    { }
    std::string &out() { return m_out; }

    void indent(int level) { m_out.append(size_t(level) * 2, ' '); }
    void key(int level, const char *name)
    {
        indent(level);
        m_out.push_back('"');
        m_out += name;
        m_out += "\": ";
    }
    void stringMember(int level, const char *name, const QString &value, bool last = false)
    {
        key(level, name);
        appendString(m_out, value);
        m_out += last ? "\n" : ",\n";
    }
    // A date that cannot be written (a null one, say) takes the moment of the export, so the file
    // stays readable.
    void dateMember(int level, const char *name, const QDateTime &value, bool last)
    {
        key(level, name);
        m_out.push_back('"');
        if (!appendDate(m_out, value))
            m_out += m_exportDate;
        m_out.push_back('"');
        m_out += last ? "\n" : ",\n";
    }

private:
    std::string m_out;
    std::string m_exportDate;
};

// --- reading -----------------------------------------------------------------------------

class DecodeError : public std::runtime_error
{
public:
    explicit DecodeError(const QString &message)
        : std::runtime_error(message.toStdString())
    { }
};

struct Place
{
    int group = -1;
    int link = -1;

    QString text() const
    {
        if (group < 0)
            return QStringLiteral("At the top level");
        if (link < 0)
            return QStringLiteral("In group %1").arg(group + 1);
        return QStringLiteral("In link %1 of group %2").arg(link + 1).arg(group + 1);
    }
};

QString typeName(const Json &value)
{
    switch (value.type()) {
    case Json::value_t::null:
        return QStringLiteral("null");
    case Json::value_t::object:
        return QStringLiteral("an object");
    case Json::value_t::array:
        return QStringLiteral("an array");
    case Json::value_t::string:
        return QStringLiteral("a string");
    case Json::value_t::boolean:
        return QStringLiteral("a boolean");
    default:
        return QStringLiteral("a number");
    }
}

QString quoted(const std::string &text)
{
    QString value = fromUtf8(text);
    if (value.size() > 40)
        value = value.left(40) + QStringLiteral("…");
    return QLatin1Char('"') + value + QLatin1Char('"');
}

[[noreturn]] void fail(const Place &place, const QString &what)
{
    throw DecodeError(place.text() + QStringLiteral(": ") + what);
}

const Json &required(const Json &object, const char *key, Json::value_t type, const Place &place)
{
    const auto it = object.find(key);
    if (it == object.end())
        fail(place, QStringLiteral("the member \"%1\" is missing.").arg(QLatin1String(key)));
    if (it->type() != type) {
        const QString expected
            = type == Json::value_t::array ? QStringLiteral("an array") : QStringLiteral("a string");
        fail(place,
            QStringLiteral("the member \"%1\" must be %2, but it is %3.")
                .arg(QLatin1String(key), expected, typeName(*it)));
    }
    return *it;
}

QString requiredString(const Json &object, const char *key, const Place &place)
{
    return fromUtf8(required(object, key, Json::value_t::string, place).get_ref<const std::string &>());
}

std::optional<QString> optionalString(const Json &object, const char *key, const Place &place)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    if (!it->is_string())
        fail(place,
            QStringLiteral("the member \"%1\" must be a string or null, but it is %2.")
                .arg(QLatin1String(key), typeName(*it)));
    return fromUtf8(it->get_ref<const std::string &>());
}

bool digits(std::string_view text, size_t at, size_t count, int *value)
{
    if (at + count > text.size())
        return false;
    int result = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + (text[i] - '0');
    }
    *value = result;
    return true;
}

enum class DateProblem { None, Malformed, Fractional };

std::optional<QDateTime> parseInternetDate(std::string_view text, DateProblem *problem)
{
    *problem = DateProblem::Malformed;
    int year, month, day, hour, minute, second;
    // YYYY-MM-DDTHH:MM:SS
    if (text.size() < 20 || !digits(text, 0, 4, &year) || text[4] != '-' || !digits(text, 5, 2, &month)
        || text[7] != '-' || !digits(text, 8, 2, &day) || text[10] != 'T' || !digits(text, 11, 2, &hour)
        || text[13] != ':' || !digits(text, 14, 2, &minute) || text[16] != ':'
        || !digits(text, 17, 2, &second))
        return std::nullopt;
    size_t at = 19;
    bool fractional = false;
    if (text[at] == '.') {
        size_t end = at + 1;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        if (end == at + 1)
            return std::nullopt;
        fractional = true;
        at = end;
    }
    int offsetSeconds = 0;
    if (at < text.size() && text[at] == 'Z') {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        int offsetHours, offsetMinutes;
        if (!digits(text, at + 1, 2, &offsetHours) || at + 3 >= text.size() || text[at + 3] != ':'
            || !digits(text, at + 4, 2, &offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 60 + offsetMinutes) * 60 * (text[at] == '-' ? -1 : 1);
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (year < 1 || !date.isValid() || !time.isValid())
        return std::nullopt;
    if (fractional) {
        *problem = DateProblem::Fractional;
        return std::nullopt;
    }
    *problem = DateProblem::None;
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

QString dateProblemText(DateProblem problem, const std::string &text)
{
    if (problem == DateProblem::Fractional)
        return QStringLiteral("the date %1 has fractional seconds, which are not accepted; expected whole "
                              "seconds such as 2025-03-01T09:30:00Z.")
            .arg(quoted(text));
    return QStringLiteral(
        "%1 is not a valid date; expected a UTC date and time such as 2025-03-01T09:30:00Z.")
        .arg(quoted(text));
}

QDateTime requiredDate(const Json &object, const char *key, const Place &place)
{
    const std::string &text
        = required(object, key, Json::value_t::string, place).get_ref<const std::string &>();
    DateProblem problem;
    const auto date = parseInternetDate(text, &problem);
    if (!date)
        fail(place,
            QStringLiteral("in the member \"%1\", ").arg(QLatin1String(key))
                + dateProblemText(problem, text));
    return *date;
}

ExportItem decodeItem(const Json &value, const Place &place)
{
    ExportItem item;
    item.urlString = requiredString(value, "urlString", place);
    item.title = optionalString(value, "title", place);
    item.summary = optionalString(value, "summary", place);
    item.createdAt = requiredDate(value, "createdAt", place);
    return item;
}

ExportGroup decodeGroup(const Json &value, const Place &place)
{
    ExportGroup group;
    group.name = requiredString(value, "name", place);
    group.createdAt = requiredDate(value, "createdAt", place);
    const Json &links = required(value, "bookmarks", Json::value_t::array, place);
    group.bookmarks.reserve(qsizetype(links.size()));
    Place linkPlace = place;
    linkPlace.link = 0;
    for (const Json &link : links) {
        if (!link.is_object())
            fail(place,
                QStringLiteral("link %1 must be an object, but it is %2.")
                    .arg(linkPlace.link + 1)
                    .arg(typeName(link)));
        group.bookmarks.append(decodeItem(link, linkPlace));
        ++linkPlace.link;
    }
    return group;
}

QString withoutExceptionPrefix(const char *what)
{
    // "[json.exception.parse_error.101] parse error at line 1, ..." reads well without its tag.
    QString text = QString::fromUtf8(what);
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype end = text.indexOf(QStringLiteral("] "));
        if (end > 0)
            text = text.mid(end + 2);
    }
    return text;
}

} // namespace

int ExportData::linkCount() const
{
    int count = 0;
    for (const ExportGroup &group : groups)
        count += int(group.bookmarks.size());
    return count;
}

QDateTime ExportData::currentTime()
{
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
}

QString ExportData::formatDate(const QDateTime &date)
{
    std::string text;
    if (!appendDate(text, date))
        return {};
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::optional<QDateTime> ExportData::parseDate(const QString &text, QString *error)
{
    const std::string bytes = text.toStdString();
    DateProblem problem;
    auto date = parseInternetDate(bytes, &problem);
    if (!date && error)
        *error = dateProblemText(problem, bytes);
    return date;
}

QByteArray ExportData::toJson() const
{
    std::string exportDate;
    if (!appendDate(exportDate, exportedAt))
        appendDate(exportDate, currentTime());
    Writer writer(exportDate);
    std::string &out = writer.out();
    out.reserve(size_t(256 + groups.size() * 128 + linkCount() * 240));
    out += "{\n";
    writer.key(1, "groups");
    if (groups.isEmpty()) {
        out += "[],\n";
    } else {
        out += "[\n";
        for (qsizetype g = 0; g < groups.size(); ++g) {
            const ExportGroup &group = groups[g];
            writer.indent(2);
            out += "{\n";
            writer.stringMember(3, "name", group.name);
            writer.dateMember(3, "createdAt", group.createdAt, false);
            writer.key(3, "bookmarks");
            if (group.bookmarks.isEmpty()) {
                out += "[]\n";
            } else {
                out += "[\n";
                for (qsizetype i = 0; i < group.bookmarks.size(); ++i) {
                    const ExportItem &item = group.bookmarks[i];
                    writer.indent(4);
                    out += "{\n";
                    writer.stringMember(5, "urlString", item.urlString);
                    if (item.title)
                        writer.stringMember(5, "title", *item.title);
                    if (item.summary)
                        writer.stringMember(5, "summary", *item.summary);
                    writer.dateMember(5, "createdAt", item.createdAt, true);
                    writer.indent(4);
                    out += i + 1 < group.bookmarks.size() ? "},\n" : "}\n";
                }
                writer.indent(3);
                out += "]\n";
            }
            writer.indent(2);
            out += g + 1 < groups.size() ? "},\n" : "}\n";
        }
        writer.indent(1);
        out += "],\n";
    }
    writer.key(1, "exportedAt");
    out += '"' + exportDate + "\"\n}\n";
    return QByteArray(out.data(), qsizetype(out.size()));
}

std::optional<ExportData> ExportData::fromJson(const QByteArray &json, QString *error)
{
    const auto failWith = [error](const QString &message) -> std::optional<ExportData> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    try {
        const Json root = Json::parse(json.constBegin(), json.constEnd());
        const Place top;
        if (!root.is_object())
            return failWith(QStringLiteral(
                "The file is not a Bramble export: its top level must be an object, but it is %1.")
                                .arg(typeName(root)));
        ExportData data;
        const Json &groups = required(root, "groups", Json::value_t::array, top);
        data.exportedAt = requiredDate(root, "exportedAt", top);
        data.groups.reserve(qsizetype(groups.size()));
        Place place;
        place.group = 0;
        for (const Json &group : groups) {
            if (!group.is_object())
                fail(top,
                    QStringLiteral("group %1 must be an object, but it is %2.")
                        .arg(place.group + 1)
                        .arg(typeName(group)));
            data.groups.append(decodeGroup(group, place));
            ++place.group;
        }
        return data;
    } catch (const DecodeError &problem) {
        return failWith(QString::fromStdString(problem.what()));
    } catch (const Json::exception &problem) {
        return failWith(
            QStringLiteral("The file is not valid JSON: ") + withoutExceptionPrefix(problem.what()));
    } catch (const std::bad_alloc &) {
        return failWith(QStringLiteral("The file is too large to be read."));
    } catch (const std::exception &problem) {
        return failWith(QStringLiteral("The file could not be read: ") + QString::fromUtf8(problem.what()));
    }
}
