#pragma once

#include "SyncEngine/RsyncRunner.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kelto::test {

// An RsyncRunner that replays scripted runs instead of starting rsync. A call
// takes the first untaken step whose matcher accepts it (in the order added;
// steps are added before the runs start), else goes to the fallback runner,
// else throws std::logic_error. Output is delivered as the real runner does.
// A token stopped on entry returns 20 and takes no step; a stop seen before
// an action ends the replay there with 20; one the last action requests
// leaves the step's code. run() may be called from several threads at once.
class ScriptedRsyncRunner final : public RsyncRunner {
public:
    using Matcher = std::function<bool(const std::vector<std::string>& arguments)>;

    // One scripted rsync run.
    class Step {
    public:
        // Bytes written to standard output or standard error, as one chunk.
        Step& out(std::string bytes) { return add({Action::Kind::out, std::move(bytes), nullptr}); }
        Step& err(std::string bytes) { return add({Action::Kind::err, std::move(bytes), nullptr}); }
        // Calls the hook at this point of the replay, on the calling thread.
        Step& then(std::function<void()> hook) { return add({Action::Kind::hook, {}, std::move(hook)}); }
        // Requests a stop on the source at this point.
        Step& stopAt(std::stop_source source) {
            return then([source]() mutable { source.request_stop(); });
        }
        // Blocks until the run's token is stopped; goes on after 30 s so a
        // stop that never comes fails the test rather than hanging it.
        Step& waitForStop() { return add({Action::Kind::waitForStop, {}, nullptr}); }
        // The fallback runner performs the call at this point; when it ends
        // with a code other than 0 the step ends with that code.
        Step& passThrough() { return add({Action::Kind::passThrough, {}, nullptr}); }
        // The code the run ends with when nothing stops it; 0 unless set.
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

    // One call as the runner received it.
    struct Call {
        std::vector<std::string> arguments;
        RsyncOutputParser::Mode mode;

        // The text after "name=" of the first such argument.
        std::optional<std::string> option(std::string_view name) const;
    };

    ScriptedRsyncRunner() = default;
    // Calls no step takes go to `fallback`, which must outlive this runner.
    explicit ScriptedRsyncRunner(const RsyncRunner& fallback) : fallback_(&fallback) {}

    // Adds a step for a later call that `matches` accepts; any call without it.
    Step& expect(Matcher matches = nullptr);

    // Every call that got past the stop check on entry, in arrival order.
    std::vector<Call> calls() const;
    // Steps no call has taken yet.
    std::size_t unusedSteps() const;

    RsyncExit run(const std::vector<std::string>& arguments,
                  RsyncOutputParser::Mode mode,
                  std::stop_token stop,
                  const RawLineHandler& onRawLine,
                  const EventHandler& onEvent) const override;
    // Scripted like run(); what goes to the fallback runner goes there by
    // its runBetween, with the descriptors.
    RsyncExit runBetween(int source, int destination, const std::vector<std::string>& arguments,
                         RsyncOutputParser::Mode mode, std::stop_token stop, const RawLineHandler& onRawLine,
                         const EventHandler& onEvent) const override;

    // Matchers. A listing of the folder; a dry run; a transfer (neither of
    // those), or one into the folder.
    static Matcher listing(const std::filesystem::path& root);
    static Matcher dryRun();
    static Matcher transfer();
    static Matcher transferTo(const std::filesystem::path& destination);

private:
    // The fallback runner's call for the arguments: run() or runBetween().
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
