#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The words after `bramble`, checked against what each command takes.
struct CommandArguments
{
    QString command;
    QStringList positional;
    std::optional<QString> group;
    bool json = false;
    // import: store and queue the links without fetching.
    bool noRefresh = false;
    // refresh: every link (of the group), not only those waiting.
    bool all = false;
    // import: leave out links already in the library or earlier in the file.
    bool skipExisting = false;
    // import: a browser's profile instead of a file ("firefox", "chromium" …), and its name.
    std::optional<QString> from;
    std::optional<QString> profile;
    // export: "json" or "html".
    QString format = QStringLiteral("json");
    // search: at most this many matches.
    std::optional<int> limit;
    // add: store the address even when the library holds it already.
    bool allowDuplicate = false;

    static const char *usageText();
    static bool isCommand(const QString &word);
    // Reads what follows the command; returns an error text for anything it does not accept.
    static std::optional<QString> parse(
        const QString &command, const QStringList &words, CommandArguments *out);
};
