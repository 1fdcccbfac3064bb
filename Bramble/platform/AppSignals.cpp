#include "platform/AppSignals.h"

namespace {
AppSignals::Sender &sender()
{
    static AppSignals::Sender instance;
    return instance;
}
} // namespace

void AppSignals::setSender(Sender newSender)
{
    sender() = std::move(newSender);
}

void AppSignals::send(const QString &name, const Parameters &parameters)
{
    if (sender())
        sender()(name, parameters);
}
