#include "Kelto_Sync/ModeDisplay.h"

namespace kelto {

QString ModeDisplay::label(SyncMode mode) {
    switch (mode) {
    case SyncMode::copy: return QStringLiteral("Copy");
    case SyncMode::mirror: return QStringLiteral("Match source");
    case SyncMode::twoWay: return QStringLiteral("Two-way");
    }
    return {};
}

QString ModeDisplay::description(SyncMode mode) {
    switch (mode) {
    case SyncMode::copy: return QStringLiteral("Add and update only. Never deletes in B.");
    case SyncMode::mirror: return QStringLiteral("Extras in B move to the archive.");
    case SyncMode::twoWay: return QStringLiteral("Newer change wins. The losing version goes to the archive.");
    }
    return {};
}

FenraIcon ModeDisplay::symbol(SyncMode mode) { return mode == SyncMode::copy ? FenraIcon::copy : FenraIcon::sync; }

TileTint ModeDisplay::tint(SyncMode mode) {
    switch (mode) {
    case SyncMode::copy: return TileTint::sky;
    case SyncMode::mirror: return TileTint::cobalt;
    case SyncMode::twoWay: return TileTint::kelto;
    }
    return TileTint::sky;
}

}  // namespace kelto
