#pragma once

#include <QString>
#include <optional>

/// Runs an AppleScript source (the Finder automation). A seam: the services that need it take a
/// ScriptRunner, with OsascriptRunner as the default, and tests pass their own.
class ScriptRunner
{
public:
    struct Result
    {
        bool ok = false;
        std::optional<QString> errorMessage; ///< the script error's message, when it gave one
    };

    virtual ~ScriptRunner() = default;
    /// Runs the script to its end; blocks the calling thread. Any thread.
    virtual Result run(const QString& source) = 0;
};

/// Runs scripts with `osascript` where it exists. Linux has none: every run fails with no
/// message, and the callers' failure paths apply.
class OsascriptRunner final : public ScriptRunner
{
public:
    Result run(const QString& source) override;
};

/// The process-wide default runner (an OsascriptRunner).
ScriptRunner& defaultScriptRunner();
