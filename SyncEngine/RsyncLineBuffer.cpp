#include "SyncEngine/RsyncLineBuffer.h"

#include "SyncModel/Support/Unicode.h"

namespace kelto {

std::vector<std::string> RsyncLineBuffer::append(std::string_view chunk) {
    std::vector<std::string> out;
    append(chunk, [&](std::string_view line) { out.emplace_back(line); });
    return out;
}

std::optional<std::string> RsyncLineBuffer::flush() {
    if (pending.empty()) return std::nullopt;
    std::string line = decode(pending);
    pending.clear();
    return line;
}

bool RsyncLineBuffer::isValidUtf8(std::string_view bytes) { return Unicode::isValidUtf8(bytes); }

std::string RsyncLineBuffer::decode(std::string_view bytes) { return Unicode::decodeLossy(bytes); }

}  // namespace kelto
