#include "FirefoxBackupReader.h"

#include "BookmarkTreeBuilder.h"

#include <nlohmann/json.hpp>

using Json = nlohmann::json;

namespace {

enum class NodeType { Link, Folder, Other };

QString textMember(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return {};
    return QString::fromStdString(it->get_ref<const std::string &>());
}

NodeType typeOf(const Json &node)
{
    const auto code = node.find("typeCode");
    if (code != node.end() && code->is_number_integer()) {
        const auto value = code->get<qint64>();
        return value == 1 ? NodeType::Link : value == 2 ? NodeType::Folder : NodeType::Other;
    }
    // Backups older than typeCode name the type.
    const QString type = textMember(node, "type");
    if (type == QLatin1String("text/x-moz-place"))
        return NodeType::Link;
    if (type == QLatin1String("text/x-moz-place-container"))
        return NodeType::Folder;
    return NodeType::Other;
}

// PRTime: microseconds since 1970.
QDateTime dateOf(const Json &node)
{
    const auto it = node.find("dateAdded");
    if (it == node.end() || !it->is_number())
        return {};
    if (it->is_number_float()) {
        // Converting a double beyond the integers' range is undefined: such a date is none.
        const double value = it->get<double>();
        if (!(value > 0 && value < 9e18))
            return {};
        return BookmarkTreeBuilder::fromUnixTime(qint64(value));
    }
    return BookmarkTreeBuilder::fromUnixTime(it->get<qint64>());
}

QString descriptionOf(const Json &node)
{
    const auto annos = node.find("annos");
    if (annos == node.end() || !annos->is_array())
        return {};
    for (const Json &anno : *annos) {
        if (anno.is_object() && textMember(anno, "name") == QLatin1String("bookmarkProperties/description"))
            return textMember(anno, "value");
    }
    return {};
}

class Reader
{
public:
    explicit Reader(BookmarkTreeBuilder &builder)
        : m_builder(builder)
    { }

    bool readChildren(const Json &folder, bool atRoot)
    {
        const auto children = folder.find("children");
        if (children == folder.end())
            return true;
        if (!children->is_array()) {
            m_builder.fail(QStringLiteral("In the folder “%1”: \"children\" must be an array.")
                               .arg(textMember(folder, "title")));
            return false;
        }
        for (const Json &child : *children) {
            if (!child.is_object()) {
                m_builder.fail(QStringLiteral("In the folder “%1”: every entry must be an object.")
                                   .arg(textMember(folder, "title")));
                return false;
            }
            switch (typeOf(child)) {
            case NodeType::Link: {
                QString address = textMember(child, "uri");
                QByteArray icon;
                const QString iconUri = textMember(child, "iconUri");
                if (iconUri.startsWith(QLatin1String("data:")))
                    icon = BookmarkTreeBuilder::iconFromDataUri(iconUri);
                if (!m_builder.addLink(
                        address, textMember(child, "title"), descriptionOf(child), dateOf(child), icon))
                    return false;
                break;
            }
            case NodeType::Folder: {
                const QString guid = textMember(child, "guid");
                if (atRoot && FirefoxBackupReader::isTagsRoot(guid))
                    break;
                const QString root = atRoot ? FirefoxBackupReader::rootName(guid) : QString();
                if (!m_builder.enterFolder(root.isEmpty() ? textMember(child, "title") : root, dateOf(child)))
                    return false;
                const bool ok = readChildren(child, false);
                m_builder.leaveFolder();
                if (!ok)
                    return false;
                break;
            }
            case NodeType::Other:
                break;
            }
        }
        return true;
    }

private:
    BookmarkTreeBuilder &m_builder;
};

} // namespace

QString FirefoxBackupReader::rootName(const QString &guid)
{
    if (guid == QLatin1String("menu________"))
        return BookmarkRoots::menu;
    if (guid == QLatin1String("toolbar_____"))
        return BookmarkRoots::toolbar;
    if (guid == QLatin1String("unfiled_____"))
        return BookmarkRoots::other;
    if (guid == QLatin1String("mobile______"))
        return BookmarkRoots::mobile;
    return {};
}

bool FirefoxBackupReader::looksLikeFirefoxBackup(const Json &root)
{
    if (!root.is_object())
        return false;
    const auto children = root.find("children");
    if (children == root.end() || !children->is_array())
        return false;
    return root.contains("typeCode") || textMember(root, "guid") == QLatin1String("root________")
        || textMember(root, "type").startsWith(QLatin1String("text/x-moz-place"));
}

std::optional<ImportedBookmarks> FirefoxBackupReader::fromJson(const Json &root, QString *error)
{
    if (!looksLikeFirefoxBackup(root)) {
        if (error)
            *error = QStringLiteral("The file is not a Firefox bookmark backup.");
        return std::nullopt;
    }
    BookmarkTreeBuilder builder(BookmarkSource::firefox);
    Reader reader(builder);
    // The Places root holds the menu, toolbar, unfiled and mobile roots.
    const bool placesRoot = textMember(root, "guid") == QLatin1String("root________")
        || textMember(root, "root") == QLatin1String("placesRoot");
    if (!reader.readChildren(root, placesRoot)) {
        if (error)
            *error = builder.error();
        return std::nullopt;
    }
    return builder.finish();
}
