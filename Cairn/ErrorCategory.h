#pragma once

#include <QString>
#include <optional>

namespace Cairn {

// Where an error came from, sent as "Cairn.Error.category".
enum class ErrorCategory { thrownException, userInput, appState };

inline QString rawValue(ErrorCategory category)
{
    switch (category) {
    case ErrorCategory::thrownException:
        return QStringLiteral("thrown-exception");
    case ErrorCategory::userInput:
        return QStringLiteral("user-input");
    case ErrorCategory::appState:
        return QStringLiteral("app-state");
    }
    return QString();
}

inline std::optional<ErrorCategory> errorCategoryFromRawValue(const QString &raw)
{
    for (ErrorCategory category :
        { ErrorCategory::thrownException, ErrorCategory::userInput, ErrorCategory::appState })
        if (rawValue(category) == raw)
            return category;
    return std::nullopt;
}

} // namespace Cairn
