#include "UpdateSignature.h"

#include <QFile>
#include <sodium.h>

namespace {
bool initSodium()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QByteArray decode(const QByteArray &base64, qsizetype expectedSize)
{
    auto decoded = QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != expectedSize)
        return QByteArray();
    return decoded.decoded;
}
} // namespace

UpdateSignature::KeyPair UpdateSignature::generateKeyPair()
{
    KeyPair pair;
    if (!initSodium())
        return pair;
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    QByteArray secretKey(crypto_sign_SECRETKEYBYTES, Qt::Uninitialized);
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
        reinterpret_cast<unsigned char *>(secretKey.data()));
    pair.publicKeyBase64 = publicKey.toBase64();
    pair.secretKeyBase64 = secretKey.toBase64();
    sodium_memzero(secretKey.data(), size_t(secretKey.size()));
    return pair;
}

QByteArray UpdateSignature::publicKeyOf(const QByteArray &secretKeyBase64)
{
    if (!initSodium())
        return QByteArray();
    QByteArray secretKey = decode(secretKeyBase64, crypto_sign_SECRETKEYBYTES);
    if (secretKey.isEmpty())
        return QByteArray();
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    const int status = crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char *>(publicKey.data()),
        reinterpret_cast<const unsigned char *>(secretKey.constData()));
    sodium_memzero(secretKey.data(), size_t(secretKey.size()));
    return status == 0 ? publicKey.toBase64() : QByteArray();
}

QByteArray UpdateSignature::sign(const QByteArray &data, const QByteArray &secretKeyBase64)
{
    if (!initSodium())
        return QByteArray();
    QByteArray secretKey = decode(secretKeyBase64, crypto_sign_SECRETKEYBYTES);
    if (secretKey.isEmpty())
        return QByteArray();
    QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
        reinterpret_cast<const unsigned char *>(data.constData()), quint64(data.size()),
        reinterpret_cast<const unsigned char *>(secretKey.constData()));
    sodium_memzero(secretKey.data(), size_t(secretKey.size()));
    return signature.toBase64();
}

bool UpdateSignature::verify(
    const QByteArray &data, const QByteArray &signatureBase64, const QByteArray &publicKeyBase64)
{
    if (!initSodium())
        return false;
    const QByteArray publicKey = decode(publicKeyBase64, crypto_sign_PUBLICKEYBYTES);
    const QByteArray signature = decode(signatureBase64, crypto_sign_BYTES);
    if (publicKey.isEmpty() || signature.isEmpty())
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
               reinterpret_cast<const unsigned char *>(data.constData()), quint64(data.size()),
               reinterpret_cast<const unsigned char *>(publicKey.constData()))
        == 0;
}

QString UpdateSignature::verifyFile(
    const QString &path, const QByteArray &signatureBase64, const QByteArray &publicKeyBase64)
{
    if (!isValidPublicKey(publicKeyBase64))
        return QStringLiteral("no valid public key is configured to check the update signature");
    if (signatureBase64.trimmed().isEmpty())
        return QStringLiteral("the update has no signature");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the downloaded update could not be read for its signature check: ")
            + file.errorString();
    const QByteArray data = file.readAll();
    if (!verify(data, signatureBase64, publicKeyBase64))
        return QStringLiteral("the update signature does not match the download");
    return QString();
}

bool UpdateSignature::isValidPublicKey(const QByteArray &publicKeyBase64)
{
    return !decode(publicKeyBase64, crypto_sign_PUBLICKEYBYTES).isEmpty();
}

bool UpdateSignature::isWellFormedSignature(const QByteArray &signatureBase64)
{
    return !decode(signatureBase64, crypto_sign_BYTES).isEmpty();
}
