#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// The program's information dictionary, fixed when it is built: "CFBundleShortVersionString",
// "CFBundleVersion" and, when a key was configured, "UpdatePublicEDKey".
namespace AppInfo {
QVariantMap infoDictionary();
QVariant object(const QString &key);

// Text values, "Unknown" when absent or not text.
QString shortVersion();
QString buildNumber();
// Empty when the build has no update key.
QString updatePublicEDKey();

// Reads a text value from any dictionary of this shape, "Unknown" when absent or not text.
QString text(const QVariantMap &dictionary, const QString &key);
} // namespace AppInfo
