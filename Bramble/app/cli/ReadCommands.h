#pragma once

#include "app/cli/CommandArguments.h"

#include <QCoroTask>

// The commands that only read: they work beside the window or a writing command.
namespace ReadCommands {

QCoro::Task<int> list(CommandArguments arguments);
QCoro::Task<int> metadata(CommandArguments arguments);
QCoro::Task<int> exportLibrary(CommandArguments arguments);

} // namespace ReadCommands
