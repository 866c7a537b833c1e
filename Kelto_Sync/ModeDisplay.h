#pragma once

#include "FenraCore/FenraIcon.h"
#include "FenraCore/TileTint.h"
#include "SyncModel/SyncJob.h"

#include <QString>

namespace kelto {

// How the windows show a sync mode: its name and description (keys in the
// application's strings) and the tile drawn for it.
struct ModeDisplay {
    static QString label(SyncMode mode);
    static QString description(SyncMode mode);
    static FenraIcon symbol(SyncMode mode);
    static TileTint tint(SyncMode mode);
};

}  // namespace kelto
