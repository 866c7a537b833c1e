#pragma once

#include <QSettings>
#include <QString>

namespace kelto {

// Whether the permission setup is under way and which version of it was
// completed, under `prefix` in the defaults.
struct PermissionSetupState {
    QSettings& defaults;
    QString prefix;

    // 0 when unset.
    int completedVersion() const;
    // False when unset.
    bool isInProgress() const;
    void markInProgress();
    void markCompleted(int version);
    void clearInProgress();

    // A setup under way or asked for is shown; otherwise only when
    // onboarding is due and the completed version is older.
    static bool shouldPresent(int completedVersion, int currentVersion, bool needsOnboarding, bool inProgress,
                              bool force);

private:
    QString versionKey() const { return prefix + QStringLiteral(".version"); }
    QString inProgressKey() const { return prefix + QStringLiteral(".inProgress"); }
};

}  // namespace kelto
