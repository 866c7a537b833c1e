#pragma once

#include "Kelto_Sync/SyncStrings.h"
#include "SyncModel/SyncJob.h"

#include <QWidget>

#include <functional>

namespace kelto {

// What every form section of the job editor shares: it shows the draft it
// was last given and reports each edit as a whole new draft. It keeps no
// state of its own; the owner hands the new draft back through setJob.
class EditorSection : public QWidget {
public:
    using Report = std::function<void(const SyncJob&)>;

    EditorSection(SyncStrings strings, Report report, QWidget* parent);

    void setJob(const SyncJob& job);
    const SyncJob& job() const { return job_; }

protected:
    // Brings every control in line with job(); never rewrites a control that
    // already shows its value.
    virtual void refresh() = 0;
    void report(const SyncJob& job) const;
    QString text(const char* english) const;
    QString format(const char* english, const QVariantList& values) const;
    const SyncStrings& strings() const { return strings_; }
    void changeEvent(QEvent* event) override;

private:
    SyncStrings strings_;
    Report report_;
    SyncJob job_;
};

}  // namespace kelto
