#include "Cairn/Hashing.h"

#include <QCryptographicHash>

namespace Cairn {

QString sha256Hex(const QString &text, const QString &salt)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(text.toUtf8());
    hash.addData(salt.toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace Cairn
