#pragma once

#include "Cairn/SessionManager.h"
#include "Cairn/TelemetryManagerConfiguration.h"

#include <QDateTime>

namespace Cairn {

// The default parameters of every record, with the Linux stand-ins of the design
// notes. Facts that cannot change while the program runs (system, model, locale, SDK) are
// read once per process; screen, colour scheme, layout direction, calendar, time zone and
// the retention figures are read for every record. Call parameters() on the main thread: it
// reads the screen and the palette.
namespace DefaultSignalPayload {

    struct Inputs
    {
        QString appVersion = QStringLiteral("0");
        QString buildNumber = QStringLiteral("0");
        // Absent: the figures of a client without session history.
        std::optional<SessionManager::Statistics> sessions;
        QDateTime now; // invalid: Clock::now()
    };

    Parameters parameters(const Inputs &inputs);

    // Pieces, exposed for tests.
    QString timeZoneText(int secondsEastOfGMT);
    // Swift's rendering of a double: shortest round-trip text, with ".0" on whole numbers.
    QString doubleText(double value);
    // "Linux 6.1.0" and friends from a kernel version text such as "6.1.0-18-amd64".
    struct SystemVersion
    {
        QString full, major, majorMinor;
    };
    SystemVersion systemVersionFromKernel(const QString &kernelVersion);

} // namespace DefaultSignalPayload

} // namespace Cairn
