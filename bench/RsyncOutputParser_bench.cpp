// Parser throughput on generated rsync output: one million itemised-change
// lines and one million listing lines, about 1 % of them with escaped names,
// fed in pipe-sized chunks on one thread.

#include "SyncEngine/RsyncOutputParser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

using namespace kelto;

namespace {

constexpr int kLines = 1'000'000;
constexpr std::size_t kChunk = 65536;

std::string name(int i) {
    char buf[128];
    if (i % 100 == 7)  // an escaped name: "Café Ω" and a byte that is not UTF-8
        std::snprintf(buf, sizeof buf, "Music/Caf\\#303\\#251 \\#316\\#251/track %05d \\#377.flac", i);
    else
        std::snprintf(buf, sizeof buf, "Photos/%04d/Album %02d/IMG_%06d.jpg", 2000 + i % 25, i % 50, i);
    return buf;
}

std::string itemisedStream() {
    std::string out;
    out.reserve(static_cast<std::size_t>(kLines) * 64);
    char buf[192];
    for (int i = 0; i < kLines; ++i) {
        const long size = 1000L + (i * 7919L) % 9'000'000;
        std::snprintf(buf, sizeof buf, "%s %ld %ld %s\n", i % 3 ? ">f+++++++++" : ">f.st......", size, size,
                      name(i).c_str());
        out += buf;
    }
    return out;
}

std::string listingStream() {
    std::string out;
    out.reserve(static_cast<std::size_t>(kLines) * 72);
    char buf[192];
    for (int i = 0; i < kLines; ++i) {
        std::snprintf(buf, sizeof buf, "-rw-r--r-- %11ld 20%02d/%02d/%02d %02d:%02d:%02d %s\n", 1000L + (i * 7919L) % 9'000'000,
                      10 + i % 15, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i * 7) % 60, name(i).c_str());
        out += buf;
    }
    return out;
}

void parse(benchmark::State& state, const std::string& stream, RsyncOutputParser::Mode mode, RsyncEvent::Kind kind) {
    for (auto _ : state) {
        RsyncOutputParser parser(mode);
        std::size_t matched = 0, pathBytes = 0;
        auto sink = [&](RsyncEvent&& e) {
            if (e.kind() == kind) ++matched;
            if (auto* i = e.asItem()) pathBytes += i->path.size();
            if (auto* l = e.asListEntry()) pathBytes += l->path.size();
        };
        for (std::size_t at = 0; at < stream.size(); at += kChunk)
            parser.feed(std::string_view(stream).substr(at, kChunk), sink);
        parser.finish(sink);
        if (matched != static_cast<std::size_t>(kLines)) state.SkipWithError("a generated line did not parse");
        benchmark::DoNotOptimize(pathBytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(stream.size()));
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kLines,
                                                   benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(stream.size()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_ItemisedLines(benchmark::State& state) {
    static const std::string stream = itemisedStream();
    parse(state, stream, RsyncOutputParser::Mode::transfer, RsyncEvent::Kind::item);
}

void BM_ListingLines(benchmark::State& state) {
    static const std::string stream = listingStream();
    parse(state, stream, RsyncOutputParser::Mode::listOnly, RsyncEvent::Kind::listEntry);
}

}  // namespace

BENCHMARK(BM_ItemisedLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListingLines)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
