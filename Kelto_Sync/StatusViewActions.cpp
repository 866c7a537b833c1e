#include "Kelto_Sync/StatusViewActions.h"

#include "Platform/Desktop/FileRevealer.h"

namespace kelto {

StatusViewActions StatusViewActions::desktop() {
    StatusViewActions actions;
    actions.reveal = [](const QString& path, Shown shown) { FileRevealer::reveal(path, std::move(shown)); };
    actions.openFolder = [](const QString& folder, Shown shown) { FileRevealer::open(folder, std::move(shown)); };
    return actions;
}

}  // namespace kelto
