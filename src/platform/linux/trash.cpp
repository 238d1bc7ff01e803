// GIO first: Qt defines "signals" as a keyword macro, which GIO uses as a name.
// clang-format off
#include <gio/gio.h>
// clang-format on

#include "platform/trash.h"

#include "platform/path_codec.h"

#include <mutex>

namespace FileSystem {

// GIO is the freedesktop.org trash's reference implementation: it percent-encodes the Path line
// of the .trashinfo, chooses between the home trash and a per-mount one, and checks a per-mount
// trash's owner and sticky bit, so the item stays restorable from any file manager.
Outcome moveToTrash(const QString& path)
{
    // GLib 2.74 leaks the trash record it prepared when the item vanishes between its own check
    // and the move, which two overlapping moves of one item provoke. One move at a time makes
    // the later of the two fail at GIO's first check instead, for every caller.
    static std::mutex serial;
    const std::lock_guard lock(serial);
    g_autoptr(GFile) file = g_file_new_for_path(PathCodec::encode(path).constData());
    g_autoptr(GError) error = nullptr;
    if (g_file_trash(file, nullptr, &error)) return Outcome::success();
    return Outcome{error ? QString::fromUtf8(error->message) : QStringLiteral("?")};
}

} // namespace FileSystem
