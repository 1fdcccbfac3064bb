#pragma once

// The `bramble` subcommands (list, add, metadata, export, import). They run without a display
// under a QCoreApplication, on the same store and through the same code as the window.
namespace CommandLine {

// Whether the arguments ask for a subcommand, --help or --version rather than the window.
bool requested(int argc, char **argv);
// Runs it and returns the exit status: 0 done, 1 failed, 2 bad usage.
int run(int argc, char **argv);

} // namespace CommandLine
