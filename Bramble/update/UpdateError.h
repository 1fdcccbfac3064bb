#pragma once

#include <QString>
#include <QUrl>
#include <variant>

// A plain error as the update framework and the network layer produce it.
struct GenericError
{
    QString domain;
    int code = 0;
    QString description;

    QString localizedDescription() const { return description; }
    QString debugDescription() const;
};

// A classified update failure the user sees, with a description and a recovery suggestion.
class UpdateError
{
public:
    enum class Kind {
        networkError,
        unauthorizedUpdateSource,
        insufficientDiskSpace,
        appcastParsingFailed,
        installationFailed,
        securityValidationFailed,
        unknownError,
        signatureVerificationFailed,
        codeSignatureVerificationFailed,
    };

    static UpdateError networkError(GenericError underlying);
    static UpdateError unauthorizedUpdateSource(QUrl url);
    static UpdateError insufficientDiskSpace(qint64 required, qint64 available);
    static UpdateError appcastParsingFailed(GenericError underlying);
    static UpdateError installationFailed(GenericError underlying);
    static UpdateError securityValidationFailed(QString text);
    static UpdateError unknownError(GenericError underlying);
    static UpdateError signatureVerificationFailed();
    static UpdateError codeSignatureVerificationFailed();

    Kind kind() const { return m_kind; }
    const GenericError &underlying() const { return m_underlying; }
    const QUrl &url() const { return m_url; }
    qint64 required() const { return m_required; }
    qint64 available() const { return m_available; }
    const QString &text() const { return m_text; }

    QString localizedDescription() const;
    QString recoverySuggestion() const;
    QString debugDescription() const;

    bool operator==(const UpdateError &other) const;

private:
    explicit UpdateError(Kind kind)
        : m_kind(kind)
    { }

    Kind m_kind;
    GenericError m_underlying;
    QUrl m_url;
    qint64 m_required = 0;
    qint64 m_available = 0;
    QString m_text;
};

// Whatever the framework reports through its check-failed callback: a classified
// UpdateError, or any other error.
class UpdaterFailure
{
public:
    UpdaterFailure(UpdateError error)
        : m_value(std::move(error))
    { }
    UpdaterFailure(GenericError error)
        : m_value(std::move(error))
    { }

    const UpdateError *updateError() const { return std::get_if<UpdateError>(&m_value); }
    const GenericError *genericError() const { return std::get_if<GenericError>(&m_value); }
    QString localizedDescription() const;
    QString debugDescription() const;

private:
    std::variant<UpdateError, GenericError> m_value;
};
