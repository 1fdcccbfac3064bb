#pragma once

#include "app/cli/CommandArguments.h"

#include <QCoroTask>

// The commands that change the library. When another process holds it (the window, or another
// such command) they hand their request to it; otherwise they take the library themselves and
// answer the other processes while they work (CommandHost).
namespace WriteCommands {

QCoro::Task<int> add(CommandArguments arguments);
// Exits 130 after a first Ctrl+C (or SIGTERM), once the fetches under way have ended and the
// library is saved; the links still waiting stay queued in the store.
QCoro::Task<int> importLibrary(CommandArguments arguments);
QCoro::Task<int> refresh(CommandArguments arguments);

} // namespace WriteCommands
