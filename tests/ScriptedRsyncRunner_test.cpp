// The scripted runner delivers what the real runner delivers, and stops alike.

#include "SyncEngine/RsyncProcess.h"
#include "tests/support/RsyncLines.h"
#include "tests/support/ScriptedRsyncRunner.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <latch>
#include <tuple>

using namespace kelto;
using namespace kelto::test;
using Mode = RsyncOutputParser::Mode;
using Script = ScriptedRsyncRunner;

namespace {

// Everything one run delivered, and how it ended.
struct Delivered {
    std::vector<std::string> raw;
    std::vector<decltype(RsyncEvent::payload)> events;
    RsyncExit exit;
    static Delivered of(const RsyncRunner& runner, Mode mode, const std::vector<std::string>& arguments = {},
                        std::stop_token stop = {}) {
        Delivered d;
        d.exit = runner.run(
            arguments, mode, std::move(stop), [&](std::string_view line) { d.raw.emplace_back(line); },
            [&](RsyncEvent&& event) { d.events.push_back(std::move(event.payload)); });
        return d;
    }
    std::vector<std::string> diagnostics() const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (const auto* line = std::get_if<std::string>(&e)) out.push_back(*line);
        return out;
    }
};

RsyncProcess shellScript(const TemporaryFolder& tmp, const std::string& body) {
    return RsyncProcess(tmp.script("script.sh", body));
}

}  // namespace

// Captured output, and stderr past the tail with an invalid byte and no last line end, in chunks.
TEST(ScriptedRsyncRunner, DeliversWhatTheRealRunnerDeliversForTheSameOutput) {
    TemporaryFolder tmp;
    std::string errors;
    for (int i = 1; i <= 60; ++i) errors += "error " + std::to_string(i) + "\n";
    errors += "bad \xFF byte\nunterminated";
    const std::tuple<std::string, Mode, bool> cases[] = {
        {RsyncLines::captured("listing.txt"), Mode::listOnly, false},
        {RsyncLines::captured("dry-run-mirror.txt"), Mode::transfer, false},
        {RsyncLines::captured("transfer-progress.txt"), Mode::transfer, false},
        {errors, Mode::transfer, true}};
    for (const auto& [bytes, mode, toStderr] : cases) {
        SCOPED_TRACE(bytes.substr(0, 40));
        std::ofstream(tmp / "bytes", std::ios::binary) << bytes;
        const std::string cat = "cat '" + (tmp / "bytes").native() + "'" + (toStderr ? " >&2; exit 23" : "");
        const Delivered real = Delivered::of(shellScript(tmp, cat), mode);
        Script script;
        Script::Step& step = script.expect();
        if (toStderr) step.err(bytes.substr(0, 7)).err(bytes.substr(7)).exit(23);
        else step.out(bytes.substr(0, 100)).out(bytes.substr(100));
        const Delivered scripted = Delivered::of(script, mode);
        EXPECT_EQ(scripted.raw, real.raw);
        EXPECT_EQ(scripted.events, real.events);
        EXPECT_EQ(scripted.exit, real.exit);
        if (toStderr) {
            EXPECT_EQ(scripted.exit.stderrTail.size(), 50u);
            EXPECT_EQ(scripted.diagnostics().size(), 62u);
        }
    }
}

TEST(ScriptedRsyncRunner, AStopEndsTheReplayWithTwentyAsTheRealRunnerDoes) {
    Script script;
    std::stop_source stopped;
    stopped.request_stop();
    script.expect().out("never\n");
    const Delivered onEntry = Delivered::of(script, Mode::transfer, {}, stopped.get_token());
    EXPECT_EQ(onEntry.exit, RsyncExit(20, {}));
    EXPECT_TRUE(onEntry.raw.empty() && onEntry.events.empty() && script.calls().empty());
    EXPECT_EQ(script.unusedSteps(), 1u);  // the run never started
    // Lines begun before the stop still arrive; nothing after it does.
    std::stop_source midway;
    Script part;
    part.expect().err("before\n").out("partial").stopAt(midway).out(" line\nafter\n").exit(0);
    const Delivered cut = Delivered::of(part, Mode::transfer, {}, midway.get_token());
    EXPECT_EQ(cut.exit, RsyncExit(20, {"before"}));
    EXPECT_EQ(cut.raw, (std::vector<std::string>{"before", "partial"}));
    // rsync had ended when the stop came: its own code stands.
    std::stop_source late;
    Script ended;
    ended.expect().err("done\n").stopAt(late).exit(23);
    EXPECT_EQ(Delivered::of(ended, Mode::transfer, {}, late.get_token()).exit, RsyncExit(23, {"done"}));
    // A run waiting for the stop ends when another thread requests it.
    std::stop_source other;
    std::latch waiting(1);
    Script blocked;
    blocked.expect().then([&] { waiting.count_down(); }).waitForStop().out("after\n");
    auto result = std::async(std::launch::async, [&] { return Delivered::of(blocked, Mode::transfer, {}, other.get_token()); });
    waiting.wait();
    other.request_stop();
    const Delivered woken = result.get();
    EXPECT_EQ(woken.exit, RsyncExit(20, {}));
    EXPECT_TRUE(woken.events.empty());
}
