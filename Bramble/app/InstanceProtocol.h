#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

// What the processes of one library say to each other over its local socket: one JSON object
// a line. A request names its "command"; each gets one answer with "ok", and with "error" (a
// sentence for the command line) when that is false. "retry": true in a failed answer means
// the same request may succeed in a moment (the holder is handing the library on).
//
//   activate              show the window         answer "host": "window" or "command"
//   release               (to a command) finish the link in hand, save and let go of the
//                         library; answer "pending": [{"id", "mode"}] links whose
//                         metadata is still to be fetched (they also stay queued in the store)
//   add    url [group]    add a link as the add alert does      answer "url", "group"
//   import path [refresh] [skipExisting]
//                         import a file as the settings do      answer "groupCount", "linkCount",
//                                                               "skippedDuplicates", "skippedNonWeb"
//   refresh [group] [all] work the metadata queue; with all, put every link (of the group)
//                         on it first                             answer "queued", "waiting"
namespace InstanceProtocol {

using Message = nlohmann::ordered_json;

inline constexpr const char *activate = "activate";
inline constexpr const char *release = "release";
inline constexpr const char *add = "add";
inline constexpr const char *import = "import";
inline constexpr const char *refresh = "refresh";

inline constexpr const char *windowHost = "window";
inline constexpr const char *commandHost = "command";

// Nobody has a reason to send more than a line of this size...
inline constexpr qsizetype maxRequestBytes = 64 * 1024;
// ...except the holder that hands over a long list of links.
inline constexpr qsizetype maxAnswerBytes = 64 * 1024 * 1024;

Message request(const char *command);
Message success();
Message failure(const QString &error, bool retry = false);

// One line, newline included.
QByteArray encode(const Message &message);
// An object, or nothing for anything else.
std::optional<Message> decode(const QByteArray &line);

QString text(const Message &message, const char *key);
bool isOk(const Message &answer);
bool mayRetry(const Message &answer);

} // namespace InstanceProtocol
