#include "ChromiumBookmarkReader.h"

#include "BookmarkTreeBuilder.h"

#include <nlohmann/json.hpp>

using Json = nlohmann::json;

namespace {

QString textMember(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return {};
    return QString::fromStdString(it->get_ref<const std::string &>());
}

// Written as a decimal string, though a number is taken too.
QDateTime dateMember(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end())
        return {};
    if (it->is_number_integer())
        return BookmarkTreeBuilder::fromWindowsMicroseconds(it->get<qint64>());
    if (!it->is_string())
        return {};
    bool ok = false;
    const qint64 value = QByteArray::fromStdString(it->get_ref<const std::string &>()).toLongLong(&ok);
    return ok ? BookmarkTreeBuilder::fromWindowsMicroseconds(value) : QDateTime();
}

class Reader
{
public:
    explicit Reader(BookmarkTreeBuilder &builder)
        : m_builder(builder)
    { }

    // The children of one folder; false once the builder failed.
    bool readChildren(const Json &folder, const QString &where)
    {
        const auto children = folder.find("children");
        if (children == folder.end())
            return true;
        if (!children->is_array()) {
            m_builder.fail(QStringLiteral("In the folder “%1”: \"children\" must be an array.").arg(where));
            return false;
        }
        for (const Json &child : *children) {
            if (!child.is_object()) {
                m_builder.fail(
                    QStringLiteral("In the folder “%1”: every entry must be an object.").arg(where));
                return false;
            }
            const QString type = textMember(child, "type");
            if (type == QLatin1String("url")) {
                QString summary;
                // Vivaldi keeps a description of its own.
                const auto meta = child.find("meta_info");
                if (meta != child.end() && meta->is_object())
                    summary = textMember(*meta, "Description");
                if (!m_builder.addLink(textMember(child, "url"), textMember(child, "name"), summary,
                        dateMember(child, "date_added")))
                    return false;
            } else if (type == QLatin1String("folder")) {
                const QString name = textMember(child, "name");
                if (!m_builder.enterFolder(name, dateMember(child, "date_added")))
                    return false;
                const bool ok = readChildren(child, name);
                m_builder.leaveFolder();
                if (!ok)
                    return false;
            }
        }
        return true;
    }

private:
    BookmarkTreeBuilder &m_builder;
};

} // namespace

bool ChromiumBookmarkReader::looksLikeChromium(const Json &root)
{
    if (!root.is_object())
        return false;
    const auto roots = root.find("roots");
    return roots != root.end() && roots->is_object();
}

std::optional<ImportedBookmarks> ChromiumBookmarkReader::fromJson(const Json &root, QString *error)
{
    const auto failWith = [error](const QString &message) -> std::optional<ImportedBookmarks> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (!looksLikeChromium(root))
        return failWith(
            QStringLiteral("The file is not a Chromium bookmark file: it has no \"roots\" object."));
    const Json &roots = root["roots"];
    BookmarkTreeBuilder builder(BookmarkSource::chromium);
    const std::pair<const char *, const QString *> known[] = {
        { "bookmark_bar", &BookmarkRoots::toolbar },
        { "other", &BookmarkRoots::other },
        { "synced", &BookmarkRoots::mobile },
    };
    Reader reader(builder);
    for (const auto &[key, name] : known) {
        const auto it = roots.find(key);
        if (it == roots.end())
            continue;
        if (!it->is_object())
            return failWith(QStringLiteral("The root \"%1\" must be an object.").arg(QLatin1String(key)));
        builder.enterFolder(*name, dateMember(*it, "date_added"));
        const bool ok = reader.readChildren(*it, *name);
        builder.leaveFolder();
        if (!ok)
            return failWith(builder.error());
    }
    return builder.finish();
}
