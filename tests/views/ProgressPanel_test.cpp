#include "Kelto_Sync/ProgressPanel.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/views/status/StatusFixtures.h"
#include <QLayout>
#include <QProgressBar>
#include <cmath>
#include <limits>

namespace kelto {
namespace {

SyncProgress transfer(std::optional<double> rate, std::optional<double> eta) {
    SyncProgress progress;
    progress.phase = SyncPhase::transferring;
    progress.fraction = 0.5;
    progress.bytesDone = 1'500'000;
    progress.bytesTotal = 3'000'000;
    progress.filesDone = 12;
    progress.filesTotal = 40;
    progress.bytesPerSecond = rate;
    progress.eta = eta;
    progress.currentPath = "Photos/2024/IMG_0001.JPG";
    return progress;
}

TEST(ProgressPanel, RowsFollowThePhaseAndTheFraction) {
    ProgressPanel panel(SyncStrings::application());
    panel.setLocale(english);
    const auto* bar = panel.findChild<QProgressBar*>(QStringLiteral("bar"));
    for (std::size_t i = 0; i < EnumNames<SyncPhase>::names.size(); ++i) {
        for (const std::optional<double>& fraction : {std::optional<double>(), std::optional<double>(0.25)}) {
            SyncProgress progress;
            progress.phase = static_cast<SyncPhase>(i);
            progress.fraction = fraction;
            progress.scannedItems = 1234;
            panel.setProgress(progress);
            const bool transferring = progress.phase == SyncPhase::transferring;
            SCOPED_TRACE(std::string(enumName(progress.phase)) + (fraction ? " with a fraction" : ""));
            EXPECT_EQ(textOf(panel, "phase"), SyncStrings::application().computed("phase.", progress.phase, english));
            EXPECT_EQ(shown(panel, "percent"), transferring && fraction);
            EXPECT_EQ(bar->maximum() > 0, transferring && fraction);  // else a small busy bar
            EXPECT_EQ(shown(panel, "scanned"), progress.phase == SyncPhase::scanning && !fraction);
            EXPECT_EQ(shown(panel, "figures") && shown(panel, "files"), transferring);
            EXPECT_FALSE(shown(panel, "currentPath") || shown(panel, "stop"));
        }
    }
    SyncProgress scanning;
    scanning.phase = SyncPhase::scanning;
    scanning.scannedItems = 1234;
    scanning.currentPath = "a/b";
    panel.setProgress(scanning);
    EXPECT_EQ(textOf(panel, "scanned"), QStringLiteral("Scanned 1234 items"));
    EXPECT_TRUE(shown(panel, "currentPath"));
}

TEST(ProgressPanel, ATransferShowsItsFiguresAndStopsOnce) {
    int stops = 0;
    ProgressPanel panel(SyncStrings::application(), [&stops] { ++stops; });
    panel.setLocale(english);
    panel.setProgress(transfer(1536.9, 59.99));
    const auto* bar = panel.findChild<QProgressBar*>(QStringLiteral("bar"));
    EXPECT_EQ(bar->value() * 2, bar->maximum());
    EXPECT_EQ(textOf(panel, "eta"), QStringLiteral("ETA 59 s"));
    EXPECT_EQ(textOf(panel, "files"), QStringLiteral("Files: 12 of 40"));
    panel.setProgress(transfer(999.9, 0.5));
    EXPECT_EQ(textOf(panel, "rate"), QStringLiteral("999 bytes/s"));  // truncated, not rounded
    EXPECT_EQ(textOf(panel, "eta"), QStringLiteral("ETA 0 s"));
    panel.show();
    click(panel, "stop");
    EXPECT_EQ(stops, 1);
    // A rate or time left without a whole 64-bit value is left out.
    const double nan = std::numeric_limits<double>::quiet_NaN(), infinity = std::numeric_limits<double>::infinity();
    for (const auto& [value, kept] : std::vector<std::pair<double, bool>>{{nan, false}, {1e300, false},
                                                                           {-1e300, false}, {infinity, false},
                                                                           {9223372036854775808.0, false}, {9.0e18, true}}) {
        panel.setProgress(transfer(value, value));
        EXPECT_EQ(shown(panel, "rate"), kept) << value;
        EXPECT_EQ(shown(panel, "eta"), kept) << value;
        EXPECT_TRUE(shown(panel, "bytes") && shown(panel, "files"));
    }
    panel.setProgress(transfer(std::nullopt, std::nullopt));
    EXPECT_FALSE(shown(panel, "rate") || shown(panel, "eta"));
}

TEST(ProgressPanel, FiguresShareALineWhenTheyFitAndTheLongPathKeepsBothEnds) {
    ProgressPanel panel(SyncStrings::application());
    panel.setLocale(english);
    SyncProgress progress = transfer(3'400'000, 42);
    const std::string path = "Projects/" + std::string(300, 'x') + "/final-cut.mov";
    progress.currentPath = path;
    panel.setProgress(progress);
    const auto* bytes = panel.findChild<QLabel*>(QStringLiteral("bytes"));
    const auto* rate = panel.findChild<QLabel*>(QStringLiteral("rate"));
    const auto* eta = panel.findChild<QLabel*>(QStringLiteral("eta"));
    const auto* current = panel.findChild<QLabel*>(QStringLiteral("currentPath"));
    panel.resize(600, 200);
    panel.show();
    panel.layout()->activate();
    EXPECT_EQ(rate->geometry().center().y(), bytes->geometry().center().y());
    EXPECT_EQ(eta->geometry().right(), panel.findChild<QWidget*>(QStringLiteral("figures"))->width() - 1);
    EXPECT_LE(current->width(), 600);
    EXPECT_TRUE(current->text().startsWith("Projects/") && current->text().endsWith("/final-cut.mov") &&
                current->text().contains(QChar(0x2026))) << current->text().toStdString();
    EXPECT_EQ(current->toolTip(), QString::fromStdString(path));
    panel.resize(bytes->sizeHint().width() + 4, 200);
    panel.layout()->activate();
    EXPECT_GT(rate->y(), bytes->geometry().bottom());
    EXPECT_EQ(rate->x(), bytes->x());
    EXPECT_EQ(eta->geometry().center().y(), rate->geometry().center().y());
}

}  // namespace
}  // namespace kelto
