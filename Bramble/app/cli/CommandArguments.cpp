#include "app/cli/CommandArguments.h"

#include "exchange/BrowserProfiles.h"

namespace {
const char *const usage
    = "Usage: bramble [COMMAND] [OPTIONS]\n"
      "\n"
      "Without a command, starts the Bramble window.\n"
      "\n"
      "Commands:\n"
      "  list [--group NAME] [--json]   the groups in sidebar order and their links\n"
      "  add URL [--group NAME] [--allow-duplicate]\n"
      "                                 add a link and fetch its title, summary and icon; an\n"
      "                                 address the library holds already is added only with\n"
      "                                 --allow-duplicate\n"
      "  search QUERY... [--group NAME] [--json] [--limit N]\n"
      "                                 the links holding every word in title, address or\n"
      "                                 summary, best first; exit status 1 when none\n"
      "  metadata URL [--json]          fetch an address's metadata without storing it\n"
      "  export [--format json|html] FILE\n"
      "                                 write the whole library to a JSON file, or to bookmark\n"
      "                                 HTML for the browsers (- for standard output)\n"
      "  import [--no-refresh] [--skip-existing] FILE\n"
      "                                 add the groups and links of a bookmark file (Bramble's\n"
      "                                 JSON, browser HTML, Chromium Bookmarks, Firefox\n"
      "                                 places.sqlite or JSON backup), then fetch what the file\n"
      "                                 lacks (--no-refresh: only queue it; --skip-existing:\n"
      "                                 leave out links already in the library or the file)\n"
      "  import --from BROWSER [--profile NAME] [--no-refresh] [--skip-existing]\n"
      "                                 import a browser's bookmarks: firefox, chromium, chrome,\n"
      "                                 brave, vivaldi or edge (its default profile unless named)\n"
      "  refresh [--group NAME] [--all] fetch the metadata of the links still waiting for it\n"
      "                                 (--all: of every link, or every link of the group)\n"
      "\n"
      "While the window is open, add and import are handed to it. Ctrl+C stops import and\n"
      "refresh after the fetches under way; the links still waiting are fetched next time.\n"
      "\n"
      "Options:\n"
      "  -h, --help                     show this help\n"
      "  -v, --version                  show the version\n";

const QStringList commands = { QStringLiteral("list"), QStringLiteral("add"), QStringLiteral("metadata"),
    QStringLiteral("export"), QStringLiteral("import"), QStringLiteral("refresh"), QStringLiteral("search") };

// The value of an option taken by one command only, as "--name VALUE" or "--name=VALUE":
// nothing when the word is not that option, an empty value when it lacks one.
std::optional<std::optional<QString>> optionValue(
    const QStringList &words, qsizetype *i, const QString &name, const QString &command, const char *takenBy)
{
    if (command != QLatin1String(takenBy))
        return std::nullopt;
    const QString &word = words[*i];
    if (word == name) {
        if (*i + 1 >= words.size())
            return std::optional<QString>();
        return std::optional<QString>(words[++*i]);
    }
    if (word.startsWith(name + QLatin1Char('=')))
        return std::optional<QString>(word.mid(name.size() + 1));
    return std::nullopt;
}
} // namespace

const char *CommandArguments::usageText()
{
    return usage;
}

bool CommandArguments::isCommand(const QString &word)
{
    return commands.contains(word);
}

std::optional<QString> CommandArguments::parse(
    const QString &command, const QStringList &words, CommandArguments *arguments)
{
    arguments->command = command;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words[i];
        if (word == QStringLiteral("--json")) {
            arguments->json = true;
        } else if (word == QStringLiteral("--no-refresh") && command == QStringLiteral("import")) {
            arguments->noRefresh = true;
        } else if (word == QStringLiteral("--all") && command == QStringLiteral("refresh")) {
            arguments->all = true;
        } else if (word == QStringLiteral("--skip-existing") && command == QStringLiteral("import")) {
            arguments->skipExisting = true;
        } else if (const auto value = optionValue(words, &i, QStringLiteral("--from"), command, "import")) {
            if (!*value)
                return QStringLiteral("--from needs a browser: %1")
                    .arg(BrowserProfiles::browserIds().join(QStringLiteral(", ")));
            arguments->from = **value;
        } else if (const auto value
            = optionValue(words, &i, QStringLiteral("--profile"), command, "import")) {
            if (!*value)
                return QStringLiteral("--profile needs a profile name");
            arguments->profile = **value;
        } else if (const auto value = optionValue(words, &i, QStringLiteral("--format"), command, "export")) {
            if (!*value || (**value != QLatin1String("json") && **value != QLatin1String("html")))
                return QStringLiteral("--format takes json or html");
            arguments->format = **value;
        } else if (word == QStringLiteral("--allow-duplicate") && command == QStringLiteral("add")) {
            arguments->allowDuplicate = true;
        } else if ((word == QStringLiteral("--limit") || word.startsWith(QStringLiteral("--limit=")))
            && command == QStringLiteral("search")) {
            QString value;
            if (word.contains(QLatin1Char('=')))
                value = word.mid(8);
            else if (i + 1 < words.size())
                value = words[++i];
            bool ok = false;
            const int limit = value.toInt(&ok);
            if (!ok || limit < 1)
                return QStringLiteral("--limit needs a positive number");
            arguments->limit = limit;
        } else if (word == QStringLiteral("--group")) {
            if (i + 1 >= words.size())
                return QStringLiteral("--group needs a group name");
            arguments->group = words[++i];
        } else if (word.startsWith(QStringLiteral("--group="))) {
            arguments->group = word.mid(8);
        } else if (word == QStringLiteral("--")) {
            arguments->positional += words.mid(i + 1);
            break;
        } else if (word.startsWith(QLatin1Char('-')) && word.size() > 1) {
            return QStringLiteral("unknown option %1").arg(word);
        } else {
            arguments->positional << word;
        }
    }
    const bool search = command == QStringLiteral("search");
    const bool takesJson
        = command == QStringLiteral("list") || command == QStringLiteral("metadata") || search;
    const bool takesGroup = command == QStringLiteral("list") || command == QStringLiteral("add")
        || command == QStringLiteral("refresh") || search;
    if (arguments->profile && !arguments->from)
        return QStringLiteral("--profile goes with --from");
    if (arguments->from && !BrowserProfiles::isKnownBrowser(*arguments->from))
        return QStringLiteral("unknown browser %1; --from takes %2")
            .arg(*arguments->from, BrowserProfiles::browserIds().join(QStringLiteral(", ")));
    if (arguments->from && !arguments->positional.isEmpty())
        return QStringLiteral("import takes a FILE or --from, not both");
    const bool takesNoArgument = command == QStringLiteral("list") || command == QStringLiteral("refresh")
        || arguments->from.has_value();
    const qsizetype wanted = takesNoArgument ? 0 : 1;
    if (arguments->json && !takesJson)
        return QStringLiteral("%1 does not take --json").arg(command);
    if (arguments->group && !takesGroup)
        return QStringLiteral("%1 does not take --group").arg(command);
    if (search) {
        if (arguments->positional.join(QString()).trimmed().isEmpty())
            return QStringLiteral("search needs a QUERY");
        return std::nullopt;
    }
    if (arguments->positional.size() != wanted) {
        if (wanted == 0)
            return QStringLiteral("%1 takes no arguments").arg(command);
        return QStringLiteral("%1 needs exactly one %2")
            .arg(command,
                command == QStringLiteral("add") || command == QStringLiteral("metadata")
                    ? QStringLiteral("URL")
                    : QStringLiteral("FILE"));
    }
    return std::nullopt;
}
