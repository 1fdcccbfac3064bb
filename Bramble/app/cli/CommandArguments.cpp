#include "app/cli/CommandArguments.h"

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
      "  export FILE                    write the whole library to a JSON file (- for standard output)\n"
      "  import [--no-refresh] FILE     add the groups and links of a JSON file, then fetch\n"
      "                                 what the file lacks (--no-refresh: only queue it)\n"
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
    const qsizetype wanted
        = command == QStringLiteral("list") || command == QStringLiteral("refresh") ? 0 : 1;
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
