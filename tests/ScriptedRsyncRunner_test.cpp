// The scripted runner the engine tests use: what it delivers must be what the
// real runner delivers for the same output, and its stops must behave alike.

#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncProcess.h"
#include "tests/support/RsyncLines.h"
#include "tests/support/ScriptedRsyncRunner.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <latch>
#include <stdexcept>
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

std::vector<std::string> listingOf(const std::filesystem::path& root) {
    RsyncInvocation invocation;
    invocation.operation = RsyncOperation::listOnly();
    invocation.source = root;
    return RsyncArguments::build(invocation);
}

std::vector<std::string> transfer(const std::filesystem::path& from, const std::filesystem::path& to, bool dryRun) {
    RsyncInvocation invocation;
    invocation.operation = RsyncOperation::mirror();
    invocation.source = from;
    invocation.destination = to;
    invocation.dryRun = dryRun;
    return RsyncArguments::build(invocation);
}

}  // namespace

// Captured standard output, and standard error with more lines than the
// tail keeps, an invalid byte and no last line end; each cut into chunks.
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

TEST(ScriptedRsyncRunner, StepsGoToTheCallsTheirMatchersAcceptInOrder) {
    Script script;
    script.expect(Script::listing("/b")).out(RsyncLines::listed(EntryKind::file, 1, 0, "on b"));
    script.expect(Script::listing()).out(RsyncLines::listed(EntryKind::file, 1, 0, "first"));
    script.expect(Script::listing()).out(RsyncLines::listed(EntryKind::file, 1, 0, "second"));
    script.expect(Script::transferTo("/a")).exit(23);
    script.expect(Script::dryRun()).exit(24);

    auto firstName = [](const Delivered& d) { return std::get<ListEntry>(d.events.at(0)).path; };
    EXPECT_EQ(firstName(Delivered::of(script, Mode::listOnly, listingOf("/a"))), "first");
    EXPECT_EQ(firstName(Delivered::of(script, Mode::listOnly, listingOf("/b"))), "on b");
    EXPECT_EQ(Delivered::of(script, Mode::transfer, transfer("/b", "/a", true)).exit.code, 24);
    EXPECT_EQ(Delivered::of(script, Mode::transfer, transfer("/b", "/a", false)).exit.code, 23);
    EXPECT_EQ(script.unusedSteps(), 1u);
    EXPECT_EQ(firstName(Delivered::of(script, Mode::listOnly, listingOf("/b"))), "second");
    EXPECT_EQ(script.unusedSteps(), 0u);
    EXPECT_THROW(Delivered::of(script, Mode::listOnly, listingOf("/a")), std::logic_error);

    const auto calls = script.calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[2].arguments, transfer("/b", "/a", true));
    EXPECT_EQ(calls[2].mode, Mode::transfer);
    EXPECT_EQ(calls[0].option("--exclude"), "/.KeltoSync");
    EXPECT_EQ(calls[0].option("--files-from"), std::nullopt);
}

TEST(ScriptedRsyncRunner, TheFallbackTakesUnscriptedCallsAndPassThroughRunsIt) {
    Script fallback;
    fallback.expect().out(">f+++++++++ 1 0 from fallback\n").err("fallback said\n").exit(0);
    fallback.expect().err("fallback failed\n").exit(11);
    fallback.expect().err("unscripted\n").exit(23);
    const RsyncRunner& real = fallback;  // another script standing in for the real runner
    Script script(real);
    script.expect().passThrough().err("after\n").exit(24);
    script.expect().passThrough().err("never\n").exit(0);

    const Delivered both = Delivered::of(script, Mode::transfer);
    EXPECT_EQ(both.exit, RsyncExit(24, {"fallback said", "after"}));
    EXPECT_EQ(std::get<ItemizedChange>(both.events.at(0)).path, "from fallback");
    EXPECT_EQ(Delivered::of(script, Mode::transfer).exit, RsyncExit(11, {"fallback failed"}));  // its failure ends the step
    EXPECT_EQ(Delivered::of(script, Mode::transfer).exit, RsyncExit(23, {"unscripted"}));
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
