#include "Kelto_Sync/Status/DeviceDot.h"

#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/SymbolImage.h"
#include "SyncAutomation/Async/SerialQueue.h"
#include "SyncAutomation/EndpointResolver.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncAutomation/VolumeMonitor.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include <chrono>
#include <utility>

namespace kelto {

namespace {
constexpr int dotSide = 16;

// The one worker that evaluates every dot of the process.
SerialQueue* dotWorker = nullptr;

bool removableMissing(const Endpoint& endpoint, const std::vector<MountedVolume>& volumes, const VolumeSource& source) {
    if (endpoint.volume.kind != VolumeKind::removable) return false;
    const EndpointResolution resolution = EndpointResolver::resolve(
        endpoint, volumes, EndpointResolver::isDirectory,
        [&source](const std::filesystem::path& path) { return VolumeInspector::identity(path, source); });
    return resolution.kind == EndpointResolution::Case::deviceNotConnected;
}
}  // namespace

DeviceDot::Sources DeviceDot::Sources::system() {
    Sources sources;
    sources.background = [](std::function<void()> work) {
        // Asked on the GUI thread only. The worker ends with the application,
        // running what is queued while the statics that work reads (the
        // volume source) still stand; left to the end of the process, it ran
        // queued work on them as they were being destroyed.
        if (QCoreApplication::closingDown()) return;
        if (dotWorker == nullptr) {
            dotWorker = new SerialQueue;
            qAddPostRoutine([] { delete std::exchange(dotWorker, nullptr); });
        }
        dotWorker->post(std::move(work));
    };
    sources.requiresWarning = [](const SyncJob& job) { return DeviceDot::requiresWarning(job, VolumeInspector::system()); };
    sources.subscribe = [] {
        // One watcher thread for every dot of the process.
        static VolumeMonitor monitor;
        return monitor.events();
    };
    return sources;
}

bool DeviceDot::requiresWarning(const SyncJob& job, const VolumeSource& source) {
    const std::vector<MountedVolume> volumes = VolumeInspector::mountedVolumes(source);
    return removableMissing(job.source, volumes, source) || removableMissing(job.destination, volumes, source);
}

DeviceDot::DeviceDot(SyncJob job, SyncStrings strings, Sources sources, QWidget* parent)
    : IconLabel(parent), job_(std::move(job)), strings_(strings), sources_(std::move(sources)) {
    setObjectName(QStringLiteral("deviceDot"));
    setFixedSize(dotSide, dotSide);
    refresh();
}

DeviceDot::~DeviceDot() { unsubscribe(); }

void DeviceDot::setJob(const SyncJob& job) {
    if (job == job_) return;
    job_ = job;
    evaluate();
}

void DeviceDot::evaluate() {
    if (!sources_.background || !sources_.requiresWarning) return;
    const unsigned long long generation = ++started_;
    QPointer<DeviceDot> self(this);
    sources_.background([self, generation, job = job_, rule = sources_.requiresWarning] {
        const bool warning = rule(job);
        // Handed to the GUI thread, which alone may ask whether the dot lives.
        if (QCoreApplication* app = QCoreApplication::instance();
                app != nullptr && !QCoreApplication::closingDown()) {
            QMetaObject::invokeMethod(
                app, [self, generation, warning] {
                    if (self) self->apply(generation, warning);
                },
                Qt::QueuedConnection);
        }
    });
}

void DeviceDot::apply(unsigned long long generation, bool warning) {
    // An older evaluation that finishes late may have read the volumes
    // before a device was plugged in: its answer is stale.
    if (generation <= applied_) return;
    applied_ = generation;
    if (warning == warning_) return;
    warning_ = warning;
    refresh();
    emit warningChanged(warning_);
}

void DeviceDot::refresh() {
    const QString text = strings_.text(QStringLiteral("Device not connected"), locale());
    setAccessibleName(warning_ ? text : QString());
    setToolTip(warning_ ? text : QString());
    if (warning_) {
        setIcon(SymbolImage::icon(FenraIcon::warning, FenraTheme::warning().color(palette())));
        setFixedSize(dotSide, dotSide);
    } else {
        // Without a warning the dot takes no space.
        setIcon(QIcon());
        setFixedSize(0, 0);
    }
}

void DeviceDot::showEvent(QShowEvent* event) {
    IconLabel::showEvent(event);
    if (!stream_ && sources_.subscribe) {
        stream_ = sources_.subscribe();
        if (stream_) {
            QPointer<DeviceDot> self(this);
            stream_->setListener([self] {
                if (QCoreApplication* app = QCoreApplication::instance();
                app != nullptr && !QCoreApplication::closingDown()) {
                    QMetaObject::invokeMethod(
                        app, [self] {
                            if (self) self->takeEvents();
                        },
                        Qt::QueuedConnection);
                }
            });
        }
    }
    evaluate();
}

void DeviceDot::takeEvents() {
    if (!stream_) return;
    bool any = false;
    while (stream_->next(std::chrono::milliseconds(0))) any = true;
    // Events that came together were taken by the first nudge: one
    // evaluation serves them all.
    if (any) evaluate();
}

void DeviceDot::hideEvent(QHideEvent* event) {
    IconLabel::hideEvent(event);
    unsubscribe();
}

void DeviceDot::unsubscribe() {
    if (stream_) stream_->setListener({});
    stream_.reset();
}

void DeviceDot::changeEvent(QEvent* event) {
    IconLabel::changeEvent(event);
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange) refresh();
}

}  // namespace kelto
