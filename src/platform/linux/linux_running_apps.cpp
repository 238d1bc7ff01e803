#include "platform/linux/linux_running_apps.h"

#include "platform/file_system.h"
#include "platform/linux/flatpak_source.h"
#include "platform/linux/process_match.h"
#include "platform/path_codec.h"

namespace {

// The real path of the application's location while it is still the object that was listed;
// nullopt once it was replaced. A location that was a link when listed is refused too: what it
// leads to is not the application's own.
std::optional<QByteArray> listedLocation(const SourcedApplication& app)
{
    if (!app.identity || app.identity->isLink || LocationIdentity::of(app.location) != app.identity)
        return std::nullopt;
    const QString real = FileSystem::resolved(app.location);
    // A folder above the location swapped for a link since the listing leads the resolved path
    // to another object.
    if (LocationIdentity::of(real) != app.identity) return std::nullopt;
    return PathCodec::encode(real);
}

bool inside(const QByteArray& path, const QByteArray& location)
{
    return path == location || (path.startsWith(location) && path.at(location.size()) == '/');
}

QList<RunningApplicationPtr> running(ApplicationKind kind, const QByteArray& real)
{
    switch (kind) {
    case ApplicationKind::AppImage:
        // The runtime's child (the application) runs from a mount and carries APPIMAGE: it is
        // asked first, the runtime itself after it.
        return ProcessMatch::find([&](pid_t pid) {
            if (ProcessMatch::environmentValue(pid, "APPIMAGE") == real) return 1;
            return ProcessMatch::executable(pid) == real ? 2 : 0;
        });
    case ApplicationKind::HomeProgram:
        return ProcessMatch::find([&](pid_t pid) {
            if (inside(ProcessMatch::executable(pid), real)) return 1;
            for (const QByteArray& argument : ProcessMatch::arguments(pid, 2))
                if (inside(argument, real)) return 1;
            return 0;
        });
    default:
        return ProcessMatch::find(
            [&](pid_t pid) { return inside(ProcessMatch::executable(pid), real) ? 1 : 0; });
    }
}

} // namespace

std::optional<QList<RunningApplicationPtr>>
LinuxRunningApps::instances(const SourcedApplication& app)
{
    // Flatpak names its sandboxes by the application id, whatever became of the deployment
    // folder; a system package's entry is not a program.
    if (app.kind == ApplicationKind::Flatpak) return FlatpakSource::running(app.id);
    if (app.kind == ApplicationKind::SystemPackage) return QList<RunningApplicationPtr>();
    const std::optional<QByteArray> real = listedLocation(app);
    if (!real) return std::nullopt;
    return running(app.kind, *real);
}

RunningApps& defaultRunningApps()
{
    static LinuxRunningApps registry;
    return registry;
}
