#pragma once

#include "app/cli/CommandArguments.h"

#include <QCoroTask>

// bramble search: reads only, so it works beside the window or a writing command.
namespace SearchCommand {

QCoro::Task<int> run(CommandArguments arguments);

} // namespace SearchCommand
