#pragma once

#include <QString>

#include <functional>

namespace kelto {

// What the status views ask of the desktop and of the host. An absent
// action hides what would call it.
struct StatusViewActions {
    // Called once, later, on the GUI thread: whether the file manager took
    // the request. A view that asked says so when it did not.
    using Shown = std::function<void(bool shown)>;
    // Shows a file or folder selected in the file manager.
    std::function<void(const QString& path, Shown shown)> reveal;
    // Opens a folder in the file manager.
    std::function<void(const QString& folder, Shown shown)> openFolder;
    // Opens the host's setup of full disk access. The Linux desktop has no
    // such grant, so the application gives none.
    std::function<void()> grantFullDiskAccess;

    // The desktop's file manager; no disk access grant.
    static StatusViewActions desktop();
};

}  // namespace kelto
