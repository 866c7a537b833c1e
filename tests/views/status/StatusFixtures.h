#pragma once

#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Status/DeviceDot.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/Support/Clock.h"
#include "tests/views/support/FakeAppModel.h"
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <gtest/gtest.h>

namespace kelto {

inline const QLocale english(QLocale::English, QLocale::UnitedStates);

inline Endpoint endpoint(const std::string& path, VolumeKind kind, const std::string& volume) {
    Endpoint side;
    side.path = path;
    side.volume.kind = kind;
    side.volume.name = volume;
    return side;
}

inline SyncJob sampleJob(SyncMode mode = SyncMode::mirror) {
    SyncJob job = SyncJob::newJob("Photos");
    job.source = endpoint("/home/ann/Pictures", VolumeKind::internal, "Home");
    job.destination = endpoint("/media/ann/Backup/Pictures", VolumeKind::removable, "Backup");
    job.mode = mode;
    job.options = JobOptions::standard();
    return job;
}

inline RunRecord record(const SyncJob& job, int index, RunOutcome outcome = RunOutcome::success()) {
    RunRecord r;
    r.id = Uuid::random();
    r.jobID = job.id;
    r.trigger = RunTrigger::schedule;
    r.startedAt = Date::fromUnix(1'700'000'000.0 - index * 3600.0);
    r.endedAt = r.startedAt.adding(95);
    r.outcome = std::move(outcome);
    r.stats.filesCopied = 12 + index;
    r.stats.bytesCopied = 3'400'000;
    return r;
}

inline SyncProgress progressIn(SyncPhase phase, std::optional<double> fraction = std::nullopt) {
    SyncProgress progress;
    progress.phase = phase;
    progress.fraction = fraction;
    return progress;
}

inline RunStatus running(SyncPhase phase = SyncPhase::scanning, std::optional<double> fraction = std::nullopt) {
    return RunStatus::running(progressIn(phase, fraction));
}

struct ViewHarness {
    FakeAppModel fake;
    AppModelAdapter adapter{fake};
    SyncJob job = sampleJob();
    ManualClock clock{Date::fromUnix(1'700'003'600.0)};
    ViewHarness() { fake.setJobs({job}); }
};

// Lets queued answers and scheduled reads run.
inline void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

inline bool shown(const QWidget& root, const char* name) {
    const auto* child = root.findChild<QWidget*>(QLatin1String(name));
    return child != nullptr && child->isVisibleTo(&root);
}

inline QString textOf(const QWidget& root, const char* name) {
    const auto* label = root.findChild<QLabel*>(QLatin1String(name));
    return label != nullptr ? label->text() : QStringLiteral("<none>");
}

inline QPushButton* button(const QWidget& root, const char* name) {
    return root.findChild<QPushButton*>(QLatin1String(name));
}

inline void click(const QWidget& root, const char* name) { QTest::mouseClick(button(root, name), Qt::LeftButton); }

template <class T = QWidget>
T* child(const QObject& root, const char* name) {
    return root.findChild<T*>(QLatin1String(name));
}

// The colour of an icon's most opaque pixel, the first reading by rows: the ink of its glyph.
inline QColor iconInk(const QIcon& icon, QSize size) {
    const QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
    QColor ink(0, 0, 0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() > ink.alpha()) ink = image.pixelColor(x, y);
    return ink;
}

// A visible label of that text.
inline QLabel* labelWith(const QWidget& root, const QString& text) {
    for (QLabel* label : root.findChildren<QLabel*>())
        if (label->text() == text && label->isVisibleTo(&root)) return label;
    return nullptr;
}

inline QAbstractButton* button(const QMessageBox* box, QMessageBox::ButtonRole role) {
    for (QAbstractButton* b : box->buttons())
        if (box->buttonRole(b) == role) return b;
    return nullptr;
}

// The open alerts that say nothing could show a path, closed once read: the paths named, and whether selectable.
struct RevealAlerts {
    QStringList paths;
    bool selectable = true;
    friend bool operator==(const RevealAlerts&, const RevealAlerts&) = default;
    friend void PrintTo(const RevealAlerts& alerts, std::ostream* out) {
        *out << alerts.paths.join(QLatin1Char(' ')).toStdString() << (alerts.selectable ? "" : " (not selectable)");
    }
};
inline RevealAlerts takeRevealAlerts() {
    RevealAlerts alerts;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (box == nullptr || box->objectName() != QLatin1String("revealFailedAlert") || !box->isVisible()) continue;
        alerts.paths << box->informativeText().split(QLatin1Char('\n'));
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text() == box->informativeText())
                alerts.selectable = alerts.selectable && (label->textInteractionFlags() & Qt::TextSelectableByMouse);
        }
        box->close();
    }
    alerts.paths.sort();
    return alerts;
}

// Device-dot sources the test drives: evaluations wait until the test runs them; the answer is the test's.
struct FakeDotSources {
    std::deque<std::function<void()>> pending;
    bool warning = false;
    std::weak_ptr<VolumeEventStream> stream;
    int subscriptions = 0;
    DeviceDot::Sources sources() {
        DeviceDot::Sources s;
        s.background = [this](std::function<void()> work) { pending.push_back(std::move(work)); };
        s.requiresWarning = [this](const SyncJob&) { return warning; };
        s.subscribe = [this] {
            ++subscriptions;
            auto made = std::make_shared<VolumeEventStream>();
            stream = made;
            return made;
        };
        return s;
    }
    void runAll() {
        while (!pending.empty()) {
            auto work = std::move(pending.front());
            pending.pop_front();
            work();
        }
        settle();
    }
};

inline SyncJob namedJob(const std::string& name, SyncMode mode = SyncMode::copy) {
    SyncJob job = sampleJob(mode);
    job.name = name;
    return job;
}

}  // namespace kelto
