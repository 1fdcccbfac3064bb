#pragma once

#include <QMap>
#include <QString>
#include <functional>

// The one place where the interface reports usage signals ("group_created", ...). Nothing is
// sent until the analytics client installs its sender at start-up; until then signals are
// dropped. Main thread only.
namespace AppSignals {
using Parameters = QMap<QString, QString>;
using Sender = std::function<void(const QString &name, const Parameters &parameters)>;

// Replaces the sender; an empty function turns sending off.
void setSender(Sender sender);
void send(const QString &name, const Parameters &parameters = {});
} // namespace AppSignals
