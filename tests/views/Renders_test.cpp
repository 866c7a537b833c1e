// Renders the progress panel and the preview sheet to PNG files in the build
// folder, light and dark, for a person to look at.
#include "Kelto_Sync/PreviewSheet.h"
#include "Kelto_Sync/ProgressPanel.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace kelto {
namespace {

struct Look {
    const char* name;
    QPalette palette;
};

std::vector<Look> looks() {
    return {{"light", WidgetRender::withWindowButtons(WidgetRender::lightPalette())},
            {"dark", WidgetRender::withWindowButtons(WidgetRender::darkPalette())}};
}

void render(QWidget& widget, const QPalette& palette, const QString& name, QSize size) {
    widget.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
    widget.resize(size);
    widget.show();
    const QString path = WidgetRender::savePng(WidgetRender::image(widget, 2), name);
    ASSERT_FALSE(path.isEmpty()) << name.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 0);
}

TEST(Renders, ProgressPanelInThreePhases) {
    SyncProgress scanning;
    scanning.phase = SyncPhase::scanning;
    scanning.scannedItems = 48'213;
    SyncProgress transferring;
    transferring.phase = SyncPhase::transferring;
    transferring.fraction = 0.42;
    transferring.bytesDone = 1'420'000'000;
    transferring.bytesTotal = 3'380'000'000;
    transferring.filesDone = 1'204;
    transferring.filesTotal = 2'871;
    transferring.bytesPerSecond = 48'300'000;
    transferring.eta = 40.6;
    transferring.currentPath = "Photos/Library 2024/Trip to the coast/Day 3 - the long walk/IMG_4711.HEIC";
    SyncProgress archiving;
    archiving.phase = SyncPhase::archiving;
    archiving.currentPath = "Documents/Old reports/2019/summary.pdf";

    for (const Look& look : looks()) {
        for (const auto& [phase, progress] : {std::pair{"scanning", scanning}, std::pair{"transferring", transferring},
                                              std::pair{"archiving", archiving}}) {
            ProgressPanel panel(SyncStrings::application(), [] {});
            panel.setProgress(progress);
            render(panel, look.palette, QStringLiteral("progress-panel-%1-%2").arg(phase, look.name), QSize(380, 120));
        }
        ProgressPanel narrow(SyncStrings::application());
        narrow.setProgress(transferring);
        render(narrow, look.palette, QStringLiteral("progress-panel-narrow-%1").arg(look.name), QSize(200, 140));
    }
}

TEST(Renders, ReviewAndPreviewSheets) {
    SyncPlan plan;
    for (int i = 0; i < 12; ++i) plan.copies.push_back({"Photos/IMG_" + std::to_string(4700 + i) + ".HEIC", 3'000'000, Side::b});
    plan.copies.push_back({"Notes/todo.txt", 120, Side::a});
    for (int i = 0; i < 40; ++i) plan.archives.push_back({"Old/report-" + std::to_string(i) + ".pdf", Side::b});
    plan.skipped = {{"Video/holiday.mov", FileSkipReason::tooLargeForFAT}, {"Readme.TXT", FileSkipReason::caseCollision}};
    plan.conflicts = {"Notes/plan.md"};
    plan.entryCountA = 900;
    plan.entryCountB = 1000;

    for (const Look& look : looks()) {
        PreviewSheet review(plan, QStringLiteral("40 of 1,000 files on B would be archived."), SyncStrings::application(),
                            [] {}, [] {});
        render(review, look.palette, QStringLiteral("preview-sheet-review-%1").arg(look.name), QSize(620, 460));
        PreviewSheet preview(plan, std::nullopt, SyncStrings::application(), {}, [] {});
        render(preview, look.palette, QStringLiteral("preview-sheet-preview-%1").arg(look.name), QSize(620, 460));
    }
}

}  // namespace
}  // namespace kelto
