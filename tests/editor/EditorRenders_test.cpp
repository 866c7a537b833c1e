// Renders every section to PNG files in the build folder, light and dark.
#include "Kelto_Sync/Editor/ArchiveSafetySection.h"
#include "Kelto_Sync/Editor/FiltersSection.h"
#include "Kelto_Sync/Editor/FoldersSection.h"
#include "Kelto_Sync/Editor/ModeSection.h"
#include "Kelto_Sync/Editor/SimpleWhenSection.h"
#include "Kelto_Sync/Editor/TriggersSection.h"
#include "tests/editor/EditorDraft.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <memory>

namespace kelto {
namespace {

TEST(EditorRenders, EverySectionInBothLooks) {
    SyncJob job = SyncJob::newJob("Photos backup");
    job.source.path = "/home/ada/Pictures";
    job.source.volume.name = "Home";
    job.destination.path = "/media/ada/Photos/Backup";
    job.destination.volume = {VolumeKind::removable, std::nullopt, "Photos", "ext4", false, true, std::nullopt};
    job.mode = SyncMode::mirror;
    job.options.archiveEnabled = false;
    job.options.archiveRetentionDays = 400;
    job.triggers = {Trigger::weekly({2, 4}, {18, 30}), Trigger::onConnect(ConnectAction::run)};
    job.filters.patterns = {"*.tmp", "", "cache/"};
    SyncJob advanced = job;
    advanced.triggers.push_back(Trigger::every(10, IntervalUnit::minutes));

    const SyncStrings strings = SyncStrings::application();
    FoldersSection::Services idle{{}, [](std::function<void()>) {}, nullptr};
    for (const auto& look : WidgetRender::looks()) {
        std::vector<std::pair<const char*, std::unique_ptr<EditorSection>>> sections;
        sections.emplace_back("folders", std::make_unique<FoldersSection>(strings, nullptr, idle));
        sections.emplace_back("mode", std::make_unique<ModeSection>(strings, nullptr));
        sections.emplace_back("when", std::make_unique<SimpleWhenSection>(strings, nullptr));
        sections.emplace_back("triggers", std::make_unique<TriggersSection>(strings, nullptr));
        sections.emplace_back("filters", std::make_unique<FiltersSection>(strings, nullptr));
        sections.emplace_back("archive", std::make_unique<ArchiveSafetySection>(strings, nullptr));
        for (auto& [name, section] : sections) {
            section->setLocale(english);
            section->setPalette(look.palette);
            section->setAutoFillBackground(true);
            section->setJob(QString(name) == "triggers" ? advanced : job);
            section->resize(520, section->sizeHint().height());
            section->show();
            const QString file = QStringLiteral("editor-%1-%2").arg(name, look.name);
            const QString path = WidgetRender::savePng(WidgetRender::image(*section, 2), file);
            ASSERT_FALSE(path.isEmpty()) << name;
            EXPECT_GT(QFileInfo(path).size(), 0);
        }
    }
}

}  // namespace
}  // namespace kelto
