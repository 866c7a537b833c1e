#include "SyncEngine/RsyncOutputParser.h"

namespace kelto {

std::vector<RsyncEvent> RsyncOutputParser::feed(std::string_view chunk) {
    std::vector<RsyncEvent> out;
    feed(chunk, [&](RsyncEvent&& e) { out.push_back(std::move(e)); });
    return out;
}

std::vector<RsyncEvent> RsyncOutputParser::finish() {
    std::vector<RsyncEvent> out;
    finish([&](RsyncEvent&& e) { out.push_back(std::move(e)); });
    return out;
}

std::optional<RsyncEvent> RsyncOutputParser::event(std::string_view line) const {
    return RsyncEvent::diagnostic(std::string(line));
}

std::optional<ItemizedChange> RsyncOutputParser::itemizedChange(std::string_view) { return std::nullopt; }
std::optional<RsyncProgressSample> RsyncOutputParser::progressSample(std::string_view) { return std::nullopt; }
std::optional<double> RsyncOutputParser::rate(std::string_view) { return std::nullopt; }
std::optional<ListEntry> RsyncOutputParser::listEntry(std::string_view) { return std::nullopt; }
std::string RsyncOutputParser::unescapeName(std::string_view text) { return std::string(text); }
std::optional<std::int64_t> RsyncOutputParser::readInteger(std::string_view) { return std::nullopt; }

}  // namespace kelto
