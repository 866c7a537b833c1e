#include "FenraCore/FenraIcon.h"

namespace kelto {
namespace {

struct Entry {
    std::string_view rawValue;
    const char* symbolName;
};

// In declaration order.
constexpr std::array<Entry, FenraIcons::count> entries{{
    {"add", "plus"},
    {"remove", "minus"},
    {"delete", "trash"},
    {"close", "xmark"},
    {"more", "ellipsis"},
    {"copy", "doc.on.doc"},
    {"paste", "clipboard"},
    {"copyPath", "list.clipboard"},
    {"share", "square.and.arrow.up"},
    {"link", "link"},
    {"refresh", "arrow.clockwise"},
    {"undo", "arrow.uturn.backward"},
    {"pin", "pin"},
    {"unpin", "pin.slash"},
    {"edit", "pencil"},
    {"cut", "scissors"},
    {"sort", "arrow.up.arrow.down"},
    {"expand", "chevron.down"},
    {"collapse", "chevron.up"},
    {"disclose", "chevron.right"},
    {"moveUp", "arrow.up"},
    {"moveDown", "arrow.down"},
    {"reorder", "line.3.horizontal"},
    {"duplicate", "plus.square.on.square"},
    {"favorite", "star"},
    {"airDrop", "dot.radiowaves.left.and.right"},
    {"success", "checkmark.circle.fill"},
    {"warning", "exclamationmark.triangle.fill"},
    {"selected", "checkmark"},
    {"error", "xmark.octagon.fill"},
    {"info", "info.circle"},
    {"paused", "pause"},
    {"stopped", "stop.circle"},
    {"interrupted", "bolt.slash.circle"},
    {"skipped", "forward.end.circle"},
    {"folder", "folder"},
    {"file", "doc"},
    {"photo", "photo"},
    {"files", "square.stack.3d.up"},
    {"archive", "archivebox"},
    {"upload", "icloud.and.arrow.up"},
    {"sync", "arrow.triangle.2.circlepath"},
    {"lock", "lock"},
    {"viewers", "person.2"},
    {"permission", "hand.raised"},
    {"text", "text.alignleft"},
    {"richText", "doc.richtext"},
}};

const Entry& entryOf(FenraIcon icon) {
    return entries[static_cast<std::size_t>(icon)];
}

// Groups are fixed by position: actions first, then status, then objects.
constexpr std::size_t firstStatus = static_cast<std::size_t>(FenraIcon::success);
constexpr std::size_t firstObject = static_cast<std::size_t>(FenraIcon::folder);

}  // namespace

QString symbolName(FenraIcon icon) {
    return QString::fromLatin1(entryOf(icon).symbolName);
}

namespace FenraIcons {

const std::array<FenraIcon, count>& allCases() {
    static const std::array<FenraIcon, count> cases = [] {
        std::array<FenraIcon, count> all{};
        for (std::size_t i = 0; i < count; ++i) {
            all[i] = static_cast<FenraIcon>(i);
        }
        return all;
    }();
    return cases;
}

std::string_view rawValue(FenraIcon icon) {
    return entryOf(icon).rawValue;
}

std::optional<FenraIcon> fromRawValue(std::string_view text) {
    for (std::size_t i = 0; i < count; ++i) {
        if (entries[i].rawValue == text) {
            return static_cast<FenraIcon>(i);
        }
    }
    return std::nullopt;
}

FenraIconGroup group(FenraIcon icon) {
    const auto position = static_cast<std::size_t>(icon);
    if (position < firstStatus) {
        return FenraIconGroup::actions;
    }
    return position < firstObject ? FenraIconGroup::status : FenraIconGroup::objects;
}

}  // namespace FenraIcons

}  // namespace kelto
