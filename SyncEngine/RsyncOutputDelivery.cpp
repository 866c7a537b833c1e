#include "SyncEngine/RsyncOutputDelivery.h"

namespace kelto {

void RsyncOutputDelivery::stdoutChunk(std::string_view chunk) {
    if (onRawLine_) rawStdout_.append(chunk, [this](std::string_view line) { onRawLine_(line); });
    parser_.feed(chunk, onEvent_);
}

void RsyncOutputDelivery::stderrChunk(std::string_view chunk) {
    stderrLines_.append(chunk, [this](std::string_view line) { stderrLine(line); });
}

void RsyncOutputDelivery::stdoutEnd() {
    if (onRawLine_)
        if (auto line = rawStdout_.flush()) onRawLine_(*line);
    parser_.finish(onEvent_);
}

void RsyncOutputDelivery::stderrEnd() {
    if (auto line = stderrLines_.flush()) stderrLine(*line);
}

void RsyncOutputDelivery::nameAs(std::string through, std::string shown) {
    if (!through.ends_with('/')) through += '/';
    if (!shown.ends_with('/')) shown += '/';
    through_ = std::move(through);
    shown_ = std::move(shown);
}

void RsyncOutputDelivery::stderrLine(std::string_view text) {
    std::string named(text);
    if (!through_.empty())
        for (std::size_t at = named.find(through_); at != std::string::npos; at = named.find(through_, at + shown_.size()))
            named.replace(at, through_.size(), shown_);
    const std::string_view line = named;
    if (onRawLine_) onRawLine_(line);
    keep(line);
    onEvent_(RsyncEvent::diagnostic(std::string(line)));
}

void RsyncOutputDelivery::addToTail(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) keep(line);
}

void RsyncOutputDelivery::keep(std::string_view line) {
    if (tail_.size() == RsyncExit::tailLimit) tail_.pop_front();
    tail_.emplace_back(line);
}

}  // namespace kelto
