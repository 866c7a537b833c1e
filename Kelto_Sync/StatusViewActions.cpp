#include "Kelto_Sync/StatusViewActions.h"

#include "Platform/Desktop/FileRevealer.h"
#include "Platform/Desktop/ProgramLauncher.h"

namespace kelto {

StatusViewActions StatusViewActions::desktop() {
    StatusViewActions actions;
    actions.reveal = [](const QString& path, Shown shown) { FileRevealer::reveal(path, std::move(shown)); };
    actions.openFolder = [](const QString& folder) { ProgramLauncher::start({QStringLiteral("xdg-open"), folder}); };
    return actions;
}

}  // namespace kelto
