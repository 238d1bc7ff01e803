#pragma once

/// The command line of the sorviclean executable: scan, clean, apps, uninstall and monitor,
/// without a display (a QCoreApplication only), for terminals, scripts and remote shells.
namespace Cli {

/// True when the arguments ask for the command line rather than the window: the first argument
/// is a command (any word that is not an option) or --help/--version.
bool wanted(int argc, char* argv[]);

/// Runs the command named by the arguments and returns the exit code: 0 success, 1 some items
/// were not removed, 2 bad usage or no confirmation (nothing removed then).
int run(int argc, char* argv[]);

} // namespace Cli
