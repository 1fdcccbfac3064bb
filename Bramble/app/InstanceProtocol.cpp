#include "app/InstanceProtocol.h"

namespace InstanceProtocol {

Message request(const char *command)
{
    Message message = Message::object();
    message["command"] = command;
    return message;
}

Message success()
{
    Message message = Message::object();
    message["ok"] = true;
    return message;
}

Message failure(const QString &error, bool retry)
{
    Message message = Message::object();
    message["ok"] = false;
    message["error"] = error.toStdString();
    if (retry)
        message["retry"] = true;
    return message;
}

QByteArray encode(const Message &message)
{
    // dump() escapes nothing it need not, but never a raw newline: one message, one line.
    return QByteArray::fromStdString(message.dump(-1, ' ', false, Message::error_handler_t::replace)) + '\n';
}

std::optional<Message> decode(const QByteArray &line)
{
    Message message = Message::parse(line.constData(), line.constData() + line.size(), nullptr, false);
    if (message.is_discarded() || !message.is_object())
        return std::nullopt;
    return message;
}

QString text(const Message &message, const char *key)
{
    const auto found = message.find(key);
    if (found == message.end() || !found->is_string())
        return QString();
    return QString::fromStdString(found->get<std::string>());
}

bool isOk(const Message &answer)
{
    const auto found = answer.find("ok");
    return found != answer.end() && found->is_boolean() && found->get<bool>();
}

bool mayRetry(const Message &answer)
{
    const auto found = answer.find("retry");
    return found != answer.end() && found->is_boolean() && found->get<bool>();
}

} // namespace InstanceProtocol
