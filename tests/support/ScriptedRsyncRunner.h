#pragma once

#include "SyncEngine/RsyncRunner.h"

#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>

namespace kelto::test {

// Replays scripted runs: a call takes the first untaken step whose matcher accepts it, else goes to the
// fallback runner, else throws. A stop on entry returns 20 and takes no step; one seen before an action ends
// the replay with 20. Safe to call from several threads.
class ScriptedRsyncRunner final : public RsyncRunner {
public:
    using Matcher = std::function<bool(const std::vector<std::string>& arguments)>;

    class Step {
    public:
        // Standard output or error, one chunk each.
        Step& out(std::string bytes) { return add({Action::Kind::out, std::move(bytes), nullptr}); }
        Step& err(std::string bytes) { return add({Action::Kind::err, std::move(bytes), nullptr}); }
        // Calls the hook at this point of the replay, on the calling thread.
        Step& then(std::function<void()> hook) { return add({Action::Kind::hook, {}, std::move(hook)}); }
        Step& stopAt(std::stop_source source) {
            return then([source]() mutable { source.request_stop(); });
        }
        // Goes on after 30 s, so that a stop never coming fails the test rather than hanging it.
        Step& waitForStop() { return add({Action::Kind::waitForStop, {}, nullptr}); }
        // The fallback runner's call; a code other than 0 ends the step with it.
        Step& passThrough() { return add({Action::Kind::passThrough, {}, nullptr}); }
        Step& exit(std::int32_t code) {
            code_ = code;
            return *this;
        }

    private:
        friend class ScriptedRsyncRunner;
        struct Action {
            enum class Kind { out, err, hook, waitForStop, passThrough } kind;
            std::string bytes;
            std::function<void()> hook;
        };
        Step& add(Action action) {
            actions_.push_back(std::move(action));
            return *this;
        }

        Matcher matches_;
        std::vector<Action> actions_;
        std::int32_t code_ = 0;
        bool taken_ = false;
    };

    struct Call {
        std::vector<std::string> arguments;
        RsyncOutputParser::Mode mode;
        std::optional<std::string> option(std::string_view name) const;
    };

    ScriptedRsyncRunner() = default;
    explicit ScriptedRsyncRunner(const RsyncRunner& fallback) : fallback_(&fallback) {}
    Step& expect(Matcher matches = nullptr);
    // Every call that got past the stop check on entry.
    std::vector<Call> calls() const;
    std::size_t unusedSteps() const;

    RsyncExit run(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode, std::stop_token stop,
                  const RawLineHandler& onRawLine, const EventHandler& onEvent) const override;
    // What goes to the fallback runner goes by its runBetween, with the descriptors.
    RsyncExit runBetween(int source, int destination, const std::vector<std::string>& arguments,
                         RsyncOutputParser::Mode mode, std::stop_token stop, const RawLineHandler& onRawLine,
                         const EventHandler& onEvent) const override;

    // A transfer is neither a listing nor a dry run.
    static Matcher listing(const std::filesystem::path& root);
    static Matcher dryRun();
    static Matcher transfer();
    static Matcher transferTo(const std::filesystem::path& destination);

private:
    using Fallback = std::function<RsyncExit(const RsyncRunner& fallback, std::stop_token stop)>;

    RsyncExit perform(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode, std::stop_token stop,
                      const RawLineHandler& onRawLine, const EventHandler& onEvent, const Fallback& fallback) const;
    RsyncExit replay(const Step& step, RsyncOutputParser::Mode mode, std::stop_token stop,
                     const RawLineHandler& onRawLine, const EventHandler& onEvent, const Fallback& fallback) const;

    const RsyncRunner* fallback_ = nullptr;
    mutable std::mutex lock_;
    mutable std::deque<Step> steps_;  // a deque: expect() hands out references
    mutable std::vector<Call> calls_;
};

}  // namespace kelto::test
