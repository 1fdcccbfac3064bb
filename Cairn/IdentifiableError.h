#pragma once

#include <QString>
#include <concepts>
#include <exception>
#include <memory>
#include <system_error>

namespace Cairn {

// Any error that can describe itself to the user.
class LocalizedError
{
public:
    virtual ~LocalizedError() = default;
    virtual QString localizedDescription() const = 0;
};

// An error with a stable identifier, so that reports of the same fault can be grouped no
// matter how its message is worded or translated.
class IdentifiableError : public LocalizedError
{
public:
    virtual QString id() const = 0;
};

// A caught exception. Keeps the exception itself when it came as an exception_ptr.
class ExceptionError : public LocalizedError
{
public:
    explicit ExceptionError(const std::exception &exception);
    // For catch (...) blocks: pass std::current_exception().
    explicit ExceptionError(std::exception_ptr exception);

    QString localizedDescription() const override { return m_message; }
    std::exception_ptr exception() const { return m_exception; }

private:
    std::exception_ptr m_exception;
    QString m_message;
};

// A system or library error code; described by its category's message.
class ErrorCodeError : public LocalizedError
{
public:
    explicit ErrorCodeError(std::error_code code)
        : m_code(code)
    { }

    QString localizedDescription() const override;
    std::error_code code() const { return m_code; }

private:
    std::error_code m_code;
};

// An error known only by its text (a Qt errorString(), for example).
class MessageError : public LocalizedError
{
public:
    explicit MessageError(QString message)
        : m_message(std::move(message))
    { }

    QString localizedDescription() const override { return m_message; }

private:
    QString m_message;
};

// Any error together with an identifier; describes itself as the wrapped error does.
class AnyIdentifiableError : public IdentifiableError
{
public:
    AnyIdentifiableError(std::shared_ptr<const LocalizedError> error, QString id);

    QString id() const override { return m_id; }
    QString localizedDescription() const override;
    const LocalizedError &error() const { return *m_error; }

private:
    std::shared_ptr<const LocalizedError> m_error;
    QString m_id;
};

// `with(id)` for every kind of error: error values, exceptions and error codes.
template<typename E>
requires std::derived_from<E, LocalizedError> && std::copy_constructible<E> AnyIdentifiableError with(
    const E &error, const QString &id)
{
    return AnyIdentifiableError(std::make_shared<const E>(error), id);
}

template<typename E>
requires std::derived_from<E, std::exception> AnyIdentifiableError with(const E &exception, const QString &id)
{
    return AnyIdentifiableError(std::make_shared<const ExceptionError>(exception), id);
}

AnyIdentifiableError with(std::exception_ptr exception, const QString &id);
AnyIdentifiableError with(std::error_code code, const QString &id);
AnyIdentifiableError with(std::errc code, const QString &id);

} // namespace Cairn
