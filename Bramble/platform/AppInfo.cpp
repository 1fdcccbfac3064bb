#include "AppInfo.h"

#include "BuildConfig.h"

QVariantMap AppInfo::infoDictionary()
{
    QVariantMap dictionary;
    dictionary.insert(
        QStringLiteral("CFBundleShortVersionString"), QString::fromUtf8(BuildConfig::shortVersion));
    dictionary.insert(QStringLiteral("CFBundleVersion"), QString::fromUtf8(BuildConfig::buildNumber));
    const QString key = QString::fromUtf8(BuildConfig::updatePublicKey).trimmed();
    if (!key.isEmpty())
        dictionary.insert(QStringLiteral("UpdatePublicEDKey"), key);
    return dictionary;
}

QVariant AppInfo::object(const QString &key)
{
    return infoDictionary().value(key);
}

QString AppInfo::text(const QVariantMap &dictionary, const QString &key)
{
    const QVariant value = dictionary.value(key);
    if (value.typeId() != QMetaType::QString)
        return QStringLiteral("Unknown");
    return value.toString();
}

QString AppInfo::shortVersion()
{
    return text(infoDictionary(), QStringLiteral("CFBundleShortVersionString"));
}

QString AppInfo::buildNumber()
{
    return text(infoDictionary(), QStringLiteral("CFBundleVersion"));
}

QString AppInfo::updatePublicEDKey()
{
    return object(QStringLiteral("UpdatePublicEDKey")).toString();
}
