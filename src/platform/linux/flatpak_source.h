#pragma once

#include "platform/application_source.h"
#include "platform/running_apps.h"

/// Flatpak applications of the user installation ($FLATPAK_USER_DIR or ~/.local/share/flatpak)
/// and, when asked, of every system installation, read through libflatpak. The name is the
/// exported desktop entry's Vietnamese Name where there is one, else the AppStream name, else the
/// entry's Name, else the id; the version is the AppStream release; the icon is the largest
/// exported one. Removal is a libflatpak uninstall transaction, never a deletion of folders: for a
/// system installation the Flatpak system helper asks for authorisation, and a refusal comes back
/// as the failure's reason. Its running instances come from Flatpak's instance list.
class FlatpakSource final : public ApplicationSource
{
public:
    FlatpakSource(QString home, bool includeSystem);

    ApplicationKind kind() const override { return ApplicationKind::Flatpak; }
    QList<SourcedApplication> applications() override;
    QList<RemovalFailure> remove(const SourcedApplication& app) override;

    /// The application processes of every running sandbox of `id`, pinned.
    static QList<RunningApplicationPtr> running(const QString& id);

    /// The largest icon of `id` in a deployment's exported hicolor theme (scalable first); "".
    static QString exportedIcon(const QString& deployDir, const QString& id);

private:
    QString m_home;
    bool m_includeSystem;
};
