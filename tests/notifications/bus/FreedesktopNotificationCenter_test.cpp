// Runs on a session bus of its own (dbus-run-session).
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QSignalSpy>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "Kelto_Sync/AppEvents.h"
#include "Kelto_Sync/Notifications/NotificationRouter.h"
#include "Kelto_Sync/Notifications/Notifier.h"
#include "Platform/Desktop/FreedesktopNotificationCenter.h"
#include "KeltoPermissions/NotificationProbe.h"
#include "KeltoPermissions/PermissionItems.h"
#include "Platform/Desktop/FreedesktopNotificationCenterError.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/views/support/FakeAppModel.h"

#include <gtest/gtest.h>

#include <memory>

namespace kelto {
namespace {

const QString servicePath = QStringLiteral("/org/freedesktop/Notifications");
const QString serviceName = QStringLiteral("org.freedesktop.Notifications");

// Hands out ids, a replaced notification keeping its.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replaces;
        QString summary, body;
        QStringList actions;
        QVariantMap hints;
        uint id;  // the one handed back
    };
    explicit FakeNotificationServer(QStringList capabilities)
        : capabilities_(std::move(capabilities)),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {
        bus_.registerObject(servicePath, this, QDBusConnection::ExportAllSlots);
        EXPECT_TRUE(bus_.registerService(serviceName));
    }
    ~FakeNotificationServer() override {
        bus_.unregisterService(serviceName);
        bus_.unregisterObject(servicePath);
        QDBusConnection::disconnectFromBus(connectionName);
    }
    void emitSignal(const QString& name, uint id, const QVariant& argument) {
        bus_.send(QDBusMessage::createSignal(servicePath, serviceName, name) << id << argument);
    }
    bool refuse = false;
    std::vector<Call> calls;
    std::vector<uint> closed;
public slots:
    QStringList GetCapabilities() { return capabilities_; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        if (refuse) sendErrorReply(QStringLiteral("org.example.Error.Refused"), QStringLiteral("not today"));
        vendor = version = specVersion = QStringLiteral("1");
        return QStringLiteral("fake");
    }
    uint Notify(const QString& appName, uint replaces, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int) {
        const uint id = replaces != 0 ? replaces : ++lastId_;
        calls.push_back({appName, replaces, summary, body, actions, hints, id});
        return id;
    }
    void CloseNotification(uint id) { closed.push_back(id); }
private:
    static constexpr const char* connectionName = "fake-notification-server";
    QStringList capabilities_;
    QDBusConnection bus_;
    uint lastId_ = 40;
};

NotificationRequest request(const QString& identifier, const QString& jobID, bool ask = false) {
    NotificationRequest r{identifier, QStringLiteral("Title ") + identifier, QStringLiteral("A & <b>"), {}, jobID, {}};
    if (ask) r.actions = {{"SYNC_NOW", "Sync now"}, {"SKIP", "Skip"}};
    return r;
}

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5'000); }
QString text(const Uuid& id) { return QString::fromStdString(id.string()); }

TEST(FreedesktopNotificationCenter, NotifyReplacesPerIdentifierAndAddsButtonsOnlyWhereTheServerHasActions) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    const QString job = text(Uuid::random());
    {
        FakeNotificationServer server({QStringLiteral("actions"), QStringLiteral("body")});
        FreedesktopNotificationCenter center;
        for (const QString& id : {"review-" + job, "review-" + job, QString("failure-1"), QString("failure-2")})
            center.add(request(id, job));
        center.add(request("ask-" + job, job, true));
        ASSERT_TRUE(waitFor([&] { return server.calls.size() == 5; }));
        const auto& first = server.calls[0];
        EXPECT_EQ(first.appName + "|" + first.summary + "|" + first.body, "Kelto Sync|Title review-" + job + "|A & <b>")
            << "no markup capability: sent as it is";
        EXPECT_EQ(first.actions, (QStringList{"default", ""}));
        EXPECT_EQ(first.hints.value("desktop-entry").toString(), "kelto-sync");
        std::vector<uint> replaces;
        for (const auto& call : server.calls) replaces.push_back(call.replaces);
        EXPECT_EQ(replaces, (std::vector<uint>{0, 41, 0, 0, 0}));
        EXPECT_EQ(server.calls[4].actions, (QStringList{"default", "", "SYNC_NOW", "Sync now", "SKIP", "Skip"}));
    }
    {
        FakeNotificationServer server({QStringLiteral("body"), QStringLiteral("body-markup")});
        FreedesktopNotificationCenter center;
        center.add(request("ask-" + job, job, true));
        ASSERT_TRUE(waitFor([&] { return server.calls.size() == 1; }));
        EXPECT_TRUE(server.calls[0].actions.isEmpty());
        EXPECT_EQ(server.calls[0].body, "A &amp; &lt;b&gt;");
    }
}

TEST(FreedesktopNotificationCenter, ANoticeWhoseSubjectIsSettledIsClosed) {
    FakeNotificationServer server({QStringLiteral("actions")});
    FakeAppModel model;
    const SyncJob job = SyncJob::newJob("Photos");
    model.setJobs({job});
    model.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    FreedesktopNotificationCenter center;
    Notifier notifier(center, settings, SyncStrings());
    notifier.follow(&model);
    notifier.notifyReviewNeeded(job.id, "Photos", "Many deletions");
    ASSERT_TRUE(waitFor([&] { return server.calls.size() == 1; }));
    model.setStatus(job.id, std::nullopt);  // answered
    ASSERT_TRUE(waitFor([&] { return server.closed.size() == 1; }));
    EXPECT_EQ(server.closed, std::vector<uint>{41});
    center.add(request("first", text(job.id)));
    ASSERT_TRUE(waitFor([&] { return server.calls.size() == 2; }));
    center.add(request("second", text(job.id)));
    center.remove(QStringLiteral("first"));   // its id perhaps still on its way back
    center.remove(QStringLiteral("second"));  // waiting to go out
    ASSERT_TRUE(waitFor([&] { return server.closed.size() == 2; }));
    center.add(request("third", text(job.id)));
    ASSERT_TRUE(waitFor([&] { return server.calls.size() == 3; }));
    EXPECT_EQ(server.calls[1].summary, "Title first");
    EXPECT_EQ(server.calls[2].summary, "Title third");
    EXPECT_EQ(server.closed, (std::vector<uint>{41, 42}));
    SCOPED_TRACE("ActionsReachTheModelAndClicksOpenTheJobEvenWithoutOne");
    auto adapter = std::make_unique<AppModelAdapter>(model);
    NotificationRouter router;
    router.setModel(adapter.get());
    router.listen(center);
    QSignalSpy opened(&AppEvents::shared(), &AppEvents::openJobPosted);
    const std::size_t sent = server.calls.size();
    center.add(request("ask-" + text(job.id), text(job.id), true));
    center.add(request("broken", QStringLiteral("not-a-uuid"), true));
    ASSERT_TRUE(waitFor([&] { return server.calls.size() == sent + 2; }));
    const uint ask = server.calls[sent].id, broken = server.calls[sent + 1].id, notOurs = 99;
    for (const auto& [id, action] : std::vector<std::pair<uint, QString>>{{ask, "SYNC_NOW"}, {ask, "SKIP"},
             {broken, "SYNC_NOW"}, {broken, "default"}, {notOurs, "SYNC_NOW"}, {ask, "default"}})
        server.emitSignal("ActionInvoked", id, action);
    ASSERT_TRUE(waitFor([&] { return opened.size() == 1; }));
    EXPECT_EQ(model.runNowCalls, std::vector<Uuid>{job.id});
    EXPECT_EQ(model.declineCalls, std::vector<Uuid>{job.id});
    EXPECT_EQ(opened.at(0).at(0).toString(), text(job.id));
    adapter.reset();  // the model is gone: buttons do nothing, a click still opens the job
    server.emitSignal("ActionInvoked", ask, QStringLiteral("SYNC_NOW"));
    server.emitSignal("ActionInvoked", ask, QStringLiteral("default"));
    ASSERT_TRUE(waitFor([&] { return opened.size() == 2; }));
    EXPECT_EQ(model.runNowCalls.size(), 1u);
    server.emitSignal("NotificationClosed", ask, 2u);
    server.emitSignal("ActionInvoked", ask, QStringLiteral("default"));
    center.add(request("later", text(job.id)));
    ASSERT_TRUE(waitFor([&] { return server.calls.size() == sent + 3; }));
    EXPECT_EQ(opened.size(), 2);
    notifier.follow(nullptr);
}

std::pair<bool, std::exception_ptr> authorize(FreedesktopNotificationCenter& center) {
    std::optional<std::pair<bool, std::exception_ptr>> answer;
    center.requestAuthorization([&](bool granted, std::exception_ptr error) { answer.emplace(granted, error); });
    EXPECT_FALSE(answer) << "answered inside the call";
    EXPECT_TRUE(waitFor([&] { return answer.has_value(); }));
    return answer.value_or(std::pair<bool, std::exception_ptr>{});
}

PermissionStatus probe(const QDBusConnection& bus, DesktopKind desktop) {
    const auto answer = test::await<PermissionStatus>([&](NotificationProbe::Answer done) {
        NotificationProbe::status(bus, QStringLiteral("Kelto.Sync.desktop"), desktop, std::move(done));
    });
    EXPECT_FALSE(answer.answeredInside);
    return answer.value.value_or(PermissionStatus::checking);
}

TEST(FreedesktopNotificationCenter, AuthorizationAndTheProbeNeedAnAnsweringServer) {
    FreedesktopNotificationCenter center;
    center.add(request("lost", text(Uuid::random())));
    EXPECT_EQ(authorize(center), (std::pair<bool, std::exception_ptr>{false, nullptr}));
    EXPECT_EQ(probe(QDBusConnection::sessionBus(), DesktopKind::kde), PermissionStatus::unverifiable);
    const QDBusConnection noBus =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kelto-bus"), QStringLiteral("none"));
    FreedesktopNotificationCenter unconnected(noBus);
    unconnected.add(request("nowhere", text(Uuid::random())));
    EXPECT_FALSE(authorize(unconnected).first);
    EXPECT_EQ(probe(noBus, DesktopKind::gnome), PermissionStatus::unverifiable);
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
    FakeNotificationServer server({});
    EXPECT_TRUE(authorize(center).first);
    EXPECT_EQ(probe(QDBusConnection::sessionBus(), DesktopKind::kde), PermissionStatus::granted);
    center.add(request("kept", text(Uuid::random())));
    ASSERT_TRUE(waitFor([&] { return !server.calls.empty(); }));
    EXPECT_EQ(server.calls.size(), 1u);
    EXPECT_EQ(server.calls[0].summary, "Title kept");
    test::FakePrograms programs;
    test::ScopedEnvironment environment;
    environment.set("PATH", programs.folder().toUtf8());
    // GNOME without gsettings: nothing says the switch is off.
    EXPECT_EQ(probe(QDBusConnection::sessionBus(), DesktopKind::gnome), PermissionStatus::granted);
    programs.add(QStringLiteral("gsettings"), "false\n");
    EXPECT_EQ(probe(QDBusConnection::sessionBus(), DesktopKind::gnome), PermissionStatus::denied);
    EXPECT_EQ(programs.started().arguments,
              (QStringList{"get",
                           "org.gnome.desktop.notifications.application:"
                           "/org/gnome/desktop/notifications/application/kelto-sync/",
                           "enable"}));
    const PermissionItem item = PermissionItems::notifications(
        QStringLiteral("kelto-sync"), QStringLiteral("detail"), PermissionRequirement::optional, PermissionStrings());
    environment.set("XDG_CURRENT_DESKTOP", "KDE");
    EXPECT_EQ(test::await<PermissionStatus>(item.check).value, PermissionStatus::granted);
    const auto requested = test::awaitDone(item.request);
    EXPECT_TRUE(requested.value);
    EXPECT_FALSE(requested.answeredInside);
    server.refuse = true;
    const auto refused = authorize(center);
    EXPECT_FALSE(refused.first);
    ASSERT_TRUE(refused.second);
    try {
        std::rethrow_exception(refused.second);
    } catch (const FreedesktopNotificationCenterError& error) {
        EXPECT_EQ(error.name(), "org.example.Error.Refused");
    }
}

}  // namespace
}  // namespace kelto

#include "FreedesktopNotificationCenter_test.moc"
