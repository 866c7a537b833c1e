#include "tests/support/ScriptedRsyncRunner.h"

#include "SyncEngine/RsyncOutputDelivery.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <stdexcept>

namespace kelto::test {
namespace {

bool has(const std::vector<std::string>& arguments, std::string_view argument) {
    return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}

// How RsyncArguments names a folder operand: its contents, with a final "/".
std::string operand(const std::filesystem::path& folder) {
    std::string text = folder.native();
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

// Delivers the unterminated last lines of both streams.
RsyncExit finish(RsyncOutputDelivery& delivery, std::int32_t code) {
    delivery.stdoutEnd();
    delivery.stderrEnd();
    return RsyncExit(code, delivery.tail());
}

void waitForStop(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any stopped;
    std::unique_lock guard(mutex);
    stopped.wait_for(guard, stop, std::chrono::seconds(30), [] { return false; });
}

}  // namespace

std::optional<std::string> ScriptedRsyncRunner::Call::option(std::string_view name) const {
    const std::string prefix = std::string(name) + "=";
    for (const std::string& argument : arguments)
        if (argument.starts_with(prefix)) return argument.substr(prefix.size());
    return std::nullopt;
}

ScriptedRsyncRunner::Step& ScriptedRsyncRunner::expect(Matcher matches) {
    std::lock_guard guard(lock_);
    Step& step = steps_.emplace_back();
    step.matches_ = std::move(matches);
    return step;
}

std::vector<ScriptedRsyncRunner::Call> ScriptedRsyncRunner::calls() const {
    std::lock_guard guard(lock_);
    return calls_;
}

std::size_t ScriptedRsyncRunner::unusedSteps() const {
    std::lock_guard guard(lock_);
    return static_cast<std::size_t>(std::count_if(steps_.begin(), steps_.end(), [](const Step& s) { return !s.taken_; }));
}

RsyncExit ScriptedRsyncRunner::run(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode,
                                   std::stop_token stop, const RawLineHandler& onRawLine,
                                   const EventHandler& onEvent) const {
    return perform(arguments, mode, std::move(stop), onRawLine, onEvent,
                   [&](const RsyncRunner& fallback, std::stop_token token) {
                       return fallback.run(arguments, mode, std::move(token), onRawLine, onEvent);
                   });
}

RsyncExit ScriptedRsyncRunner::runBetween(int source, int destination, const std::vector<std::string>& arguments,
                                          RsyncOutputParser::Mode mode, std::stop_token stop,
                                          const RawLineHandler& onRawLine, const EventHandler& onEvent) const {
    return perform(arguments, mode, std::move(stop), onRawLine, onEvent,
                   [&](const RsyncRunner& fallback, std::stop_token token) {
                       return fallback.runBetween(source, destination, arguments, mode, std::move(token), onRawLine,
                                                  onEvent);
                   });
}

RsyncExit ScriptedRsyncRunner::perform(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode,
                                       std::stop_token stop, const RawLineHandler& onRawLine,
                                       const EventHandler& onEvent, const Fallback& fallback) const {
    if (stop.stop_requested()) return RsyncExit(cancelledCode, {});
    const Step* step = nullptr;
    {
        std::lock_guard guard(lock_);
        calls_.push_back({arguments, mode});
        for (Step& candidate : steps_) {
            if (candidate.taken_ || (candidate.matches_ && !candidate.matches_(arguments))) continue;
            candidate.taken_ = true;
            step = &candidate;
            break;
        }
    }
    if (step) return replay(*step, mode, std::move(stop), onRawLine, onEvent, fallback);
    if (fallback_) return fallback(*fallback_, std::move(stop));
    std::string line = "unscripted rsync call:";
    for (const std::string& argument : arguments) line += " " + argument;
    throw std::logic_error(line);
}

RsyncExit ScriptedRsyncRunner::replay(const Step& step, RsyncOutputParser::Mode mode, std::stop_token stop,
                                      const RawLineHandler& onRawLine, const EventHandler& onEvent,
                                      const Fallback& fallback) const {
    RsyncOutputDelivery delivery(mode, onRawLine, onEvent);
    for (const Step::Action& action : step.actions_) {
        if (stop.stop_requested()) return finish(delivery, cancelledCode);
        switch (action.kind) {
            case Step::Action::Kind::out:
                delivery.stdoutChunk(action.bytes);
                break;
            case Step::Action::Kind::err:
                delivery.stderrChunk(action.bytes);
                break;
            case Step::Action::Kind::hook:
                action.hook();
                break;
            case Step::Action::Kind::waitForStop:
                waitForStop(stop);
                break;
            case Step::Action::Kind::passThrough: {
                if (!fallback_) throw std::logic_error("passThrough() without a fallback runner");
                const RsyncExit exit = fallback(*fallback_, stop);
                delivery.addToTail(exit.stderrTail);
                if (exit.code != 0) return finish(delivery, exit.code);
                break;
            }
        }
    }
    return finish(delivery, step.code_);
}

ScriptedRsyncRunner::Matcher ScriptedRsyncRunner::listing(const std::filesystem::path& root) {
    return [root = operand(root)](const std::vector<std::string>& arguments) {
        return has(arguments, "--list-only") && !arguments.empty() && arguments.back() == root;
    };
}

ScriptedRsyncRunner::Matcher ScriptedRsyncRunner::dryRun() {
    return [](const std::vector<std::string>& arguments) { return has(arguments, "--dry-run"); };
}

ScriptedRsyncRunner::Matcher ScriptedRsyncRunner::transfer() {
    return [](const std::vector<std::string>& arguments) {
        return !has(arguments, "--list-only") && !has(arguments, "--dry-run");
    };
}

ScriptedRsyncRunner::Matcher ScriptedRsyncRunner::transferTo(const std::filesystem::path& destination) {
    return [destination = operand(destination)](const std::vector<std::string>& arguments) {
        return transfer()(arguments) && !arguments.empty() && arguments.back() == destination;
    };
}

}  // namespace kelto::test
