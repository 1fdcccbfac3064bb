#pragma once

#include <QByteArray>
#include <QString>

// Ed25519 signatures of update archives (libsodium). Keys and signatures travel as base64.
namespace UpdateSignature {
struct KeyPair
{
    QByteArray publicKeyBase64;
    // The 64-byte libsodium secret key (seed followed by the public key).
    QByteArray secretKeyBase64;
};

KeyPair generateKeyPair();
// The public key that belongs to a secret key; empty when it is not a valid secret key.
QByteArray publicKeyOf(const QByteArray &secretKeyBase64);
// Empty when the secret key is not a valid base64 Ed25519 secret key.
QByteArray sign(const QByteArray &data, const QByteArray &secretKeyBase64);
bool verify(const QByteArray &data, const QByteArray &signatureBase64, const QByteArray &publicKeyBase64);
// Reads the file whole; meant for worker threads. Empty error on success.
QString verifyFile(const QString &path, const QByteArray &signatureBase64, const QByteArray &publicKeyBase64);
bool isValidPublicKey(const QByteArray &publicKeyBase64);
// Base64 of exactly one Ed25519 signature; says nothing of whether it verifies.
bool isWellFormedSignature(const QByteArray &signatureBase64);
} // namespace UpdateSignature
