#include "FenraMac/SettingsToolbarPolicy.h"
#include "FenraMac/SettingsWindowConfigurator.h"
#include "tests/support/widgets/QtPrinting.h"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// Settings go to a temporary configuration folder, never the user's.
class ConfiguratorTest : public testing::Test {
protected:
    ConfiguratorTest() {
        EXPECT_TRUE(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    }

    QTemporaryDir config;
};

QAction* toggle(QToolBar& toolbar) {
    QAction* action = toolbar.addAction(QStringLiteral("Sidebar"));
    action->setObjectName(SettingsToolbarPolicy::sidebarToggleName());
    return action;
}

QStringList actionTexts(const QToolBar& toolbar) {
    QStringList texts;
    for (const QAction* action : toolbar.actions()) {
        texts.append(action->text());
    }
    return texts;
}

TEST_F(ConfiguratorTest, ThePolicyKeepsTheSidebarToggleOutOfItsWindowOnly) {
    QMainWindow window;
    QToolBar* toolbar = window.addToolBar(QStringLiteral("Main"));
    toggle(*toolbar);
    toolbar->addAction(QStringLiteral("Help"));
    toggle(*toolbar);
    SettingsWindowConfigurator::configure(window, QStringLiteral("PolicyTest"));
    SettingsWindowConfigurator::configure(window, QStringLiteral("PolicyTest"));
    EXPECT_EQ(window.findChildren<SettingsToolbarPolicy*>().size(), 1);
    EXPECT_EQ(actionTexts(*toolbar), QStringList({"Help"}));

    QMainWindow other;
    QToolBar* otherToolbar = other.addToolBar(QStringLiteral("Other"));
    toggle(*otherToolbar);
    toggle(*toolbar);
    QToolBar* later = window.addToolBar(QStringLiteral("Later"));
    toggle(*later);
    QCoreApplication::processEvents();
    EXPECT_EQ(actionTexts(*toolbar), QStringList({"Help"}));
    EXPECT_EQ(actionTexts(*later), QStringList());
    EXPECT_EQ(actionTexts(*otherToolbar), QStringList({"Sidebar"}));
}

TEST_F(ConfiguratorTest, AWindowGoneLeavesNothingOfItsPolicyBehind) {
    auto* window = new QMainWindow;
    QToolBar* toolbar = window->addToolBar(QStringLiteral("Main"));
    SettingsWindowConfigurator::configure(*window, QStringLiteral("GoneTest"));
    toggle(*toolbar);  // a removal is now pending
    delete window;
    QCoreApplication::processEvents();

    QMainWindow next;
    toggle(*next.addToolBar(QStringLiteral("Next")));
    QCoreApplication::processEvents();
    EXPECT_EQ(next.findChild<QToolBar*>()->actions().size(), 1);
}

TEST_F(ConfiguratorTest, SizesAndFlagsThenTheSavedGeometry) {
    const QString name = QStringLiteral("KeltoSyncSettings");
    {
        QWidget window;
        SettingsWindowConfigurator::configure(window, name);
        EXPECT_EQ(window.size(), QSize(780, 600));
        EXPECT_EQ(window.minimumSize(), QSize(680, 480));
        const Qt::WindowFlags flags = window.windowFlags();
        for (Qt::WindowType flag : {Qt::WindowTitleHint, Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint,
                                    Qt::WindowMaximizeButtonHint}) {
            EXPECT_TRUE(flags.testFlag(flag)) << flag;
        }
        EXPECT_FALSE(QSettings().contains(SettingsWindowConfigurator::geometryKey(name)));
        window.show();
        window.setGeometry(40, 30, 700, 500);
        EXPECT_TRUE(QSettings().contains(SettingsWindowConfigurator::geometryKey(name)));
        EXPECT_TRUE(QSettings().fileName().startsWith(config.path()));
    }
    QWidget restored;
    SettingsWindowConfigurator::configure(restored, name);
    EXPECT_EQ(restored.size(), QSize(700, 500));
    // Configured again, it keeps what was saved.
    SettingsWindowConfigurator::configure(restored, name);
    EXPECT_EQ(restored.size(), QSize(700, 500));

    QWidget fresh;
    SettingsWindowConfigurator::configure(fresh, QStringLiteral("Other"));
    EXPECT_EQ(fresh.size(), QSize(780, 600));
    fresh.resize(600, 400);
    EXPECT_EQ(fresh.size(), QSize(680, 480));
}

}  // namespace
}  // namespace kelto
