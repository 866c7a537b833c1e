#include "SyncEngine/PathKey.h"

#include "SyncModel/Support/Unicode.h"

namespace kelto {

std::string PathKey::of(std::string_view path) { return Unicode::nfc(path); }

std::string_view PathKey::of(std::string_view path, std::string& storage) {
    if (Unicode::isAscii(path)) return path;
    storage = Unicode::nfc(path);
    return storage;
}

bool PathKey::isPathOrAncestor(std::string_view key, const PathKeySet& set) {
    if (set.empty()) return false;  // the usual case, asked once per baseline entry
    if (set.find(key) != set.end()) return true;
    if (key.empty()) return false;
    for (std::size_t slash = key.find('/'); slash != std::string_view::npos; slash = key.find('/', slash + 1))
        if (set.find(key.substr(0, slash)) != set.end()) return true;
    return false;
}

}  // namespace kelto
