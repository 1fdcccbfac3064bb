#include "Cairn/IdentifiableError.h"

namespace Cairn {

namespace {
    QString messageOf(const std::exception &exception)
    {
        return QString::fromUtf8(exception.what());
    }

    QString messageOf(const std::exception_ptr &exception)
    {
        if (!exception)
            return QStringLiteral("Unknown error");
        try {
            std::rethrow_exception(exception);
        } catch (const std::exception &caught) {
            return messageOf(caught);
        } catch (...) { }
        return QStringLiteral("Unknown exception");
    }
} // namespace

ExceptionError::ExceptionError(const std::exception &exception)
    : m_message(messageOf(exception))
{ }

ExceptionError::ExceptionError(std::exception_ptr exception)
    : m_exception(exception)
    , m_message(messageOf(exception))
{ }

QString ErrorCodeError::localizedDescription() const
{
    return QString::fromStdString(m_code.message());
}

AnyIdentifiableError::AnyIdentifiableError(std::shared_ptr<const LocalizedError> error, QString id)
    : m_error(error ? std::move(error) : std::make_shared<const MessageError>(QString()))
    , m_id(std::move(id))
{ }

QString AnyIdentifiableError::localizedDescription() const
{
    return m_error->localizedDescription();
}

AnyIdentifiableError with(std::exception_ptr exception, const QString &id)
{
    return AnyIdentifiableError(std::make_shared<const ExceptionError>(exception), id);
}

AnyIdentifiableError with(std::error_code code, const QString &id)
{
    return AnyIdentifiableError(std::make_shared<const ErrorCodeError>(code), id);
}

AnyIdentifiableError with(std::errc code, const QString &id)
{
    return with(std::make_error_code(code), id);
}

} // namespace Cairn
