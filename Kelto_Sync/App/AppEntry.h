#pragma once

#include <QProcessEnvironment>

namespace kelto {

// How the process starts.
struct AppEntry {
    static inline const QString renderTestsVariable = QStringLiteral("KELTO_SYNC_RENDER_TESTS");

    // Exactly "1": render tests get a bare event loop and nothing else (no
    // instance check, no runtime, no window); any other value starts the
    // application.
    static bool isRenderTestRun(const QProcessEnvironment& environment);
};

}  // namespace kelto
