#include "SyncEngine/GuardVerdict.h"

namespace kelto {

bool operator==(const GuardVerdict& a, const GuardVerdict& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case GuardVerdict::Case::needsConfirmation: return a.message == b.message;
    case GuardVerdict::Case::abort: return a.reason == b.reason;
    case GuardVerdict::Case::proceed: return true;
    }
    return false;
}

}  // namespace kelto
