#pragma once

#include <QString>
#include <QUrl>

// Bramble's use of the Cairn analytics client.
namespace Telemetry {

inline constexpr const char *appID = "5C1A7E02-8B3D-4F6A-9E21-D4B7C0F3A915";

// The analytics service: BRAMBLE_TELEMETRY_URL when set, else the address fixed at build time;
// empty when neither names one.
QUrl serviceURL();
// DO_NOT_TRACK set to anything but "", "0" or "false" asks for nothing to be recorded, sent
// or written.
bool doNotTrack();
// Whether signals are recorded and sent: a service is named and tracking is not refused.
bool isActive();

// Configures and initialises Cairn, prints the start-up line and routes AppSignals to it.
// Without a service Cairn records, sends and writes nothing, and the line says so.
// Call once per process, on the main thread, after the application object exists.
void start();
// Sends "app_launched" and, when it is really sent, says so on standard output.
void sendLaunched();

} // namespace Telemetry
