#include "UpdateError.h"

#include "ByteCountFormatter.h"

namespace {
QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

const char *kindName(UpdateError::Kind kind)
{
    switch (kind) {
    case UpdateError::Kind::networkError:
        return "networkError";
    case UpdateError::Kind::unauthorizedUpdateSource:
        return "unauthorizedUpdateSource";
    case UpdateError::Kind::insufficientDiskSpace:
        return "insufficientDiskSpace";
    case UpdateError::Kind::appcastParsingFailed:
        return "appcastParsingFailed";
    case UpdateError::Kind::installationFailed:
        return "installationFailed";
    case UpdateError::Kind::securityValidationFailed:
        return "securityValidationFailed";
    case UpdateError::Kind::unknownError:
        return "unknownError";
    case UpdateError::Kind::signatureVerificationFailed:
        return "signatureVerificationFailed";
    case UpdateError::Kind::codeSignatureVerificationFailed:
        return "codeSignatureVerificationFailed";
    }
    return "unknownError";
}
} // namespace

QString GenericError::debugDescription() const
{
    return QStringLiteral("Error(domain: %1, code: %2, description: %3)")
        .arg(quoted(domain), QString::number(code), quoted(description));
}

UpdateError UpdateError::networkError(GenericError underlying)
{
    UpdateError error(Kind::networkError);
    error.m_underlying = std::move(underlying);
    return error;
}

UpdateError UpdateError::unauthorizedUpdateSource(QUrl url)
{
    UpdateError error(Kind::unauthorizedUpdateSource);
    error.m_url = std::move(url);
    return error;
}

UpdateError UpdateError::insufficientDiskSpace(qint64 required, qint64 available)
{
    UpdateError error(Kind::insufficientDiskSpace);
    error.m_required = required;
    error.m_available = available;
    return error;
}

UpdateError UpdateError::appcastParsingFailed(GenericError underlying)
{
    UpdateError error(Kind::appcastParsingFailed);
    error.m_underlying = std::move(underlying);
    return error;
}

UpdateError UpdateError::installationFailed(GenericError underlying)
{
    UpdateError error(Kind::installationFailed);
    error.m_underlying = std::move(underlying);
    return error;
}

UpdateError UpdateError::securityValidationFailed(QString text)
{
    UpdateError error(Kind::securityValidationFailed);
    error.m_text = std::move(text);
    return error;
}

UpdateError UpdateError::unknownError(GenericError underlying)
{
    UpdateError error(Kind::unknownError);
    error.m_underlying = std::move(underlying);
    return error;
}

UpdateError UpdateError::signatureVerificationFailed()
{
    return UpdateError(Kind::signatureVerificationFailed);
}

UpdateError UpdateError::codeSignatureVerificationFailed()
{
    return UpdateError(Kind::codeSignatureVerificationFailed);
}

QString UpdateError::localizedDescription() const
{
    switch (m_kind) {
    case Kind::networkError:
        return QStringLiteral("Network error: ") + m_underlying.localizedDescription();
    case Kind::unauthorizedUpdateSource:
        return QStringLiteral("Update from unauthorized source: ") + m_url.toString(QUrl::FullyEncoded);
    case Kind::insufficientDiskSpace:
        return QStringLiteral("Insufficient disk space. Required: ") + formatByteCount(m_required)
            + QStringLiteral(", Available: ") + formatByteCount(m_available);
    case Kind::appcastParsingFailed:
        return QStringLiteral("Failed to parse update information: ") + m_underlying.localizedDescription();
    case Kind::installationFailed:
        return QStringLiteral("Update installation failed: ") + m_underlying.localizedDescription();
    case Kind::securityValidationFailed:
        return QStringLiteral("Security validation failed: ") + m_text;
    case Kind::unknownError:
        return QStringLiteral("Unknown error: ") + m_underlying.localizedDescription();
    case Kind::signatureVerificationFailed:
        return QStringLiteral("Update signature verification failed");
    case Kind::codeSignatureVerificationFailed:
        return QStringLiteral("Apple code signature verification failed");
    }
    return QString();
}

QString UpdateError::recoverySuggestion() const
{
    switch (m_kind) {
    case Kind::networkError:
        return QStringLiteral("Check your internet connection and try again.");
    case Kind::unauthorizedUpdateSource:
        return QStringLiteral(
            "Updates are only allowed from the configured update server. Contact support if this persists.");
    case Kind::insufficientDiskSpace:
        return QStringLiteral("Free up disk space and try again.");
    case Kind::appcastParsingFailed:
        return QStringLiteral("Try checking for updates again later.");
    case Kind::installationFailed:
        return QStringLiteral(
            "Restart the application and try again. If the problem persists, contact support.");
    case Kind::securityValidationFailed:
        return QStringLiteral("The update failed security validation. Contact support for assistance.");
    case Kind::unknownError:
        return QStringLiteral("Try restarting the application. If the problem persists, contact support.");
    case Kind::signatureVerificationFailed:
        return QStringLiteral(
            "The update may be corrupted or tampered with. Please try downloading again or contact support.");
    case Kind::codeSignatureVerificationFailed:
        return QStringLiteral(
            "The update's code signature is invalid. This may indicate a security issue. Contact support.");
    }
    return QString();
}

QString UpdateError::debugDescription() const
{
    QString payload;
    switch (m_kind) {
    case Kind::networkError:
    case Kind::appcastParsingFailed:
    case Kind::installationFailed:
    case Kind::unknownError:
        payload = m_underlying.debugDescription();
        break;
    case Kind::unauthorizedUpdateSource:
        payload = m_url.toString(QUrl::FullyEncoded);
        break;
    case Kind::insufficientDiskSpace:
        payload = QStringLiteral("required: %1, available: %2").arg(m_required).arg(m_available);
        break;
    case Kind::securityValidationFailed:
        payload = quoted(m_text);
        break;
    case Kind::signatureVerificationFailed:
    case Kind::codeSignatureVerificationFailed:
        return QStringLiteral("UpdateError.") + QLatin1String(kindName(m_kind));
    }
    return QStringLiteral("UpdateError.") + QLatin1String(kindName(m_kind)) + QLatin1Char('(') + payload
        + QLatin1Char(')');
}

bool UpdateError::operator==(const UpdateError &other) const
{
    return m_kind == other.m_kind && localizedDescription() == other.localizedDescription();
}

QString UpdaterFailure::localizedDescription() const
{
    if (const UpdateError *error = updateError())
        return error->localizedDescription();
    return std::get<GenericError>(m_value).localizedDescription();
}

QString UpdaterFailure::debugDescription() const
{
    if (const UpdateError *error = updateError())
        return error->debugDescription();
    return std::get<GenericError>(m_value).debugDescription();
}
