#pragma once

#include "platform/application_source.h"

/// The package manager's applications: the desktop entries that menus show in the system data
/// folders ($XDG_DATA_DIRS outside the home, /usr/share by default), the first folder winning
/// for a desktop-file id and the user's own entry of the same id hiding it. Listed as protected
/// and never removed; the owning package is looked up on request in dpkg's file lists.
class SystemPackageSource final : public ApplicationSource
{
public:
    explicit SystemPackageSource(ApplicationPlaces places);

    ApplicationKind kind() const override { return ApplicationKind::SystemPackage; }
    QList<SourcedApplication> applications() override;
    /// Always refused: the package manager removes these.
    QList<RemovalFailure> remove(const SourcedApplication& app) override;
    /// None: a protected application is never asked to quit.
    /// The dpkg package whose file list names the desktop entry. Lists whose package name looks
    /// like the id are read first; at worst every list is read once.
    std::optional<QString> owningPackage(const SourcedApplication& app) override;

private:
    ApplicationPlaces m_places;
};
