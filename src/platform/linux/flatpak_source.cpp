// clang-format off
// libflatpak before any Qt header: Qt defines "signals" as a macro, which GIO uses as a name.
#include <flatpak.h>
// clang-format on

#include "platform/linux/flatpak_source.h"

#include "platform/file_system.h"
#include "platform/linux/bounded_file.h"
#include "platform/linux/desktop_entry.h"
#include "platform/linux/process_match.h"

namespace {

// libflatpak may iterate the thread-default main context while it waits for the system
// helper; a context of our own keeps it away from the one Qt's event loop runs on.
class PrivateMainContext
{
public:
    PrivateMainContext() : m_context(g_main_context_new())
    {
        g_main_context_push_thread_default(m_context);
    }
    ~PrivateMainContext()
    {
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }
    PrivateMainContext(const PrivateMainContext&) = delete;
    PrivateMainContext& operator=(const PrivateMainContext&) = delete;

private:
    GMainContext* m_context;
};

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

QString installationName(FlatpakInstallation* installation)
{
    return flatpak_installation_get_is_user(installation)
               ? QStringLiteral("user")
               : text(flatpak_installation_get_id(installation));
}

// Every installation to read: the user's first, then the system ones.
QList<FlatpakInstallation*> openInstallations(bool includeSystem)
{
    QList<FlatpakInstallation*> found;
    if (FlatpakInstallation* user = flatpak_installation_new_user(nullptr, nullptr))
        found.append(user);
    if (!includeSystem) return found;
    g_autoptr(GPtrArray) systems = flatpak_get_system_installations(nullptr, nullptr);
    for (guint i = 0; systems && i < systems->len; ++i)
        found.append(FLATPAK_INSTALLATION(g_object_ref(g_ptr_array_index(systems, i))));
    return found;
}

void releaseInstallations(const QList<FlatpakInstallation*>& installations)
{
    for (FlatpakInstallation* installation : installations)
        g_object_unref(installation);
}

// The Vietnamese name where the application has one, in its exported desktop entry; then the
// AppStream name (which libflatpak keeps untranslated), the entry's own Name, the id.
QString displayName(const std::optional<DesktopEntry>& entry, FlatpakInstalledRef* ref,
                    const QString& id)
{
    if (entry) {
        for (const char* key : {"Name[vi_VN]", "Name[vi]"}) {
            QString name = entry->value(QString::fromLatin1(key)).trimmed();
            if (!name.isEmpty()) return name;
        }
    }
    QString appstream = text(flatpak_installed_ref_get_appdata_name(ref)).trimmed();
    if (!appstream.isEmpty()) return appstream;
    const QString name = entry ? entry->value(QStringLiteral("Name")).trimmed() : QString();
    return name.isEmpty() ? id : name;
}

SourcedApplication record(FlatpakInstallation* installation, FlatpakInstalledRef* installed,
                          const QString& home)
{
    FlatpakRef* ref = FLATPAK_REF(installed);
    SourcedApplication app;
    app.kind = ApplicationKind::Flatpak;
    app.removal = Removal::Transaction;
    app.id = text(flatpak_ref_get_name(ref));
    app.ref = text(flatpak_ref_format_ref_cached(ref));
    app.installation = installationName(installation);
    app.location = text(flatpak_installed_ref_get_deploy_dir(installed));
    app.version = text(flatpak_installed_ref_get_appdata_version(installed));
    app.installedSize = qint64(flatpak_installed_ref_get_installed_size(installed));
    const std::optional<DesktopEntry> entry =
        DesktopEntry::read(app.location + QStringLiteral("/export/share/applications/") + app.id +
                           QStringLiteral(".desktop"));
    app.name = displayName(entry, installed, app.id);
    app.iconPath = FlatpakSource::exportedIcon(app.location, app.id);
    const QString data = home + QStringLiteral("/.var/app/") + app.id;
    if (FileSystem::exists(data)) app.privateData.append(data);
    return app;
}

void appendApplications(FlatpakInstallation* installation, const QString& home,
                        QList<SourcedApplication>& apps)
{
    g_autoptr(GPtrArray) refs = flatpak_installation_list_installed_refs_by_kind(
        installation, FLATPAK_REF_KIND_APP, nullptr, nullptr);
    for (guint i = 0; refs && i < refs->len; ++i) {
        auto* installed = FLATPAK_INSTALLED_REF(g_ptr_array_index(refs, i));
        SourcedApplication app = record(installation, installed, home);
        // An id that is not a valid name cannot come from libflatpak; a missing folder can, when
        // the deployment is being removed.
        if (!app.id.isEmpty() && !app.location.isEmpty()) apps.append(std::move(app));
    }
}

QString uninstall(FlatpakInstallation* installation, const QString& ref)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(FlatpakTransaction) transaction =
        flatpak_transaction_new_for_installation(installation, nullptr, &error);
    if (!transaction) return text(error ? error->message : nullptr);
    if (!flatpak_transaction_add_uninstall(transaction, ref.toUtf8().constData(), &error) ||
        !flatpak_transaction_run(transaction, nullptr, &error))
        return error ? text(error->message) : QStringLiteral("flatpak");
    return {};
}

QList<pid_t> childrenOf(pid_t pid)
{
    QList<pid_t> children;
    if (pid <= 0) return children;
    const QString path = QStringLiteral("/proc/%1/task/%1/children").arg(pid);
    const std::optional<QByteArray> list = BoundedFile::head(path, qint64(64) * 1024);
    for (const QByteArray& word : list.value_or(QByteArray()).split(' ')) {
        bool ok = false;
        const int child = word.toInt(&ok);
        if (ok && child > 0) children.append(pid_t(child));
    }
    return children;
}

} // namespace

FlatpakSource::FlatpakSource(QString home, bool includeSystem)
    : m_home(std::move(home)), m_includeSystem(includeSystem)
{
}

QList<SourcedApplication> FlatpakSource::applications()
{
    const PrivateMainContext context;
    QList<SourcedApplication> apps;
    const QList<FlatpakInstallation*> installations = openInstallations(m_includeSystem);
    for (FlatpakInstallation* installation : installations)
        appendApplications(installation, m_home, apps);
    releaseInstallations(installations);
    return apps;
}

QList<RemovalFailure> FlatpakSource::remove(const SourcedApplication& app)
{
    if (app.kind != ApplicationKind::Flatpak || app.ref.isEmpty())
        return {{app.location, QStringLiteral("không phải ứng dụng Flatpak")}};
    const PrivateMainContext context;
    const QList<FlatpakInstallation*> installations =
        openInstallations(app.installation != u"user");
    QString failure = QStringLiteral("không tìm thấy bản cài đặt ") + app.installation;
    for (FlatpakInstallation* installation : installations)
        if (installationName(installation) == app.installation) {
            failure = uninstall(installation, app.ref);
            break;
        }
    releaseInstallations(installations);
    if (failure.isEmpty()) return {};
    return {{app.location, failure}};
}

QList<RunningApplicationPtr> FlatpakSource::running(const QString& id)
{
    QList<RunningApplicationPtr> found;
    g_autoptr(GPtrArray) all = flatpak_instance_get_all();
    for (guint i = 0; all && i < all->len; ++i) {
        auto* instance = FLATPAK_INSTANCE(g_ptr_array_index(all, i));
        if (text(flatpak_instance_get_app(instance)) != id ||
            !flatpak_instance_is_running(instance))
            continue;
        // The "child" that Flatpak records is the sandbox's init (PID 1 inside), which ignores a
        // SIGTERM it has no handler for; the application is that init's child. Each is checked
        // again once pinned: it must still carry the application's id in its environment.
        const pid_t init = flatpak_instance_get_child_pid(instance);
        for (const pid_t pid : childrenOf(init))
            if (RunningApplicationPtr pinned = ProcessMatch::pin(pid, [&] {
                    return ProcessMatch::environmentValue(pid, "FLATPAK_ID") == id.toUtf8();
                }))
                found.append(std::move(pinned));
    }
    return found;
}

QString FlatpakSource::exportedIcon(const QString& deployDir, const QString& id)
{
    const QString theme = deployDir + QStringLiteral("/export/share/icons/hicolor/");
    QString scalable = theme + QStringLiteral("scalable/apps/") + id + QStringLiteral(".svg");
    if (FileSystem::exists(scalable)) return scalable;
    QString best;
    int bestSize = 0;
    for (const QString& folder : FileSystem::children(theme).value_or(QStringList())) {
        const QString name = FileSystem::lastComponent(folder);
        const int size = name.section(u'x', 0, 0).toInt();
        const QString png = folder + QStringLiteral("/apps/") + id + QStringLiteral(".png");
        if (size > bestSize && name == QStringLiteral("%1x%1").arg(size) &&
            FileSystem::exists(png)) {
            best = png;
            bestSize = size;
        }
    }
    return best;
}
