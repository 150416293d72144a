// Result tables at scale:
//  - filling a 100,000-record table with one UNIQUE predicate, against the same
//    table without predicates (UNIQUE must cost constant time per record);
//  - writing one 100,000-record response, against ten 10,000-record ones, per
//    record (the writer must be linear in the response size).
// main prints both ratios after the runs.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "request/tsl_data.h"

namespace {

// Bytes in use through operator new, and the highest value since the last
// reset, so that the writer's peak memory can be set against the response.
std::atomic<std::size_t> g_inUse{0};
std::atomic<std::size_t> g_peak{0};

void *Allocate(std::size_t size) {
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    const std::size_t now =
        g_inUse.fetch_add(malloc_usable_size(block), std::memory_order_relaxed) +
        malloc_usable_size(block);
    std::size_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
    return block;
}

void Release(void *block) {
    if (block == nullptr) return;
    g_inUse.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
    std::free(block);
}

}  // namespace

void *operator new(std::size_t size) {
    return Allocate(size);
}
void *operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void *block) noexcept {
    Release(block);
}
void operator delete[](void *block) noexcept {
    Release(block);
}
void operator delete(void *block, std::size_t) noexcept {
    Release(block);
}
void operator delete[](void *block, std::size_t) noexcept {
    Release(block);
}

namespace {

constexpr int kLarge = 100000;

struct Row {
    std::string name;
    std::string age;
    std::string note;
    std::string link;
};

// Distinct names (UNIQUE keeps every row), some texts that need escaping, and
// a drill-down link on every name, as the organization tree writes them.
const std::vector<Row> &Rows() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> made;
        made.reserve(kLarge);
        for (int i = 0; i < kLarge; ++i) {
            Row row;
            row.name = "user" + std::to_string(1000000 + i);
            row.age = std::to_string(i % 97);
            row.note = i % 10 == 0 ? "Tom & <Jerry> \"quoted\"" : "plain note text";
            const auto p =
                tslData::NewPredicate(LOGIC_NOLOGIC, "Name", OPER_EQUAL, row.name.c_str());
            row.link =
                tslData::BuildLinkText(true, "Portal", "Norlo Server - Users", p.get(), nullptr);
            made.push_back(std::move(row));
        }
        return made;
    }();
    return rows;
}

std::unique_ptr<tslData> NewTable(bool unique) {
    auto data = std::make_unique<tslData>("V02.0", "NorloTessel", "Dorvex", "");
    if (unique)
        data->m_predicates.emplace_back(LOGIC_NOLOGIC, 0, tslString("Name"), OPER_UNIQUE,
                                        tslString(""), 0);
    data->SetTableInfo("Norlo Server - Users", "Mon Dec  7 10:00:00 2026\n");
    data->SetFiltering(true);
    data->AddColumn("Name", TYPE_STRING);
    data->AddColumn("Age", TYPE_UINT32);
    data->AddColumn("Note", TYPE_STRING);
    return data;
}

void Fill(tslData &data, int count) {
    const std::vector<Row> &rows = Rows();
    for (int i = 0; i < count; ++i) {
        const Row &row = rows[static_cast<std::size_t>(i)];
        data.AddLinkRecord(row.name.c_str(), row.link.c_str(), row.age.c_str(), nullptr,
                           row.note.c_str(), nullptr, nullptr);
    }
}

// Arg: 1 with a UNIQUE predicate on "Name", 0 without predicates.
void BM_FillTable(benchmark::State &state) {
    const bool unique = state.range(0) != 0;
    Rows();
    for (auto _ : state) {
        auto data = NewTable(unique);
        Fill(*data, kLarge);
        if (data->m_records.size() != static_cast<std::size_t>(kLarge))
            state.SkipWithError("a record was refused");
        benchmark::DoNotOptimize(data.get());
        state.PauseTiming();
        data.reset();  // freeing the table is not what is measured
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kLarge);
}
BENCHMARK(BM_FillTable)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Args: records per response, responses per iteration.
void BM_WriteResponse(benchmark::State &state) {
    const int records = static_cast<int>(state.range(0));
    const int responses = static_cast<int>(state.range(1));
    std::size_t bytes = 0;
    double peakRatio = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = g_inUse.load();
        std::vector<std::unique_ptr<tslData>> tables;
        for (int i = 0; i < responses; ++i) {
            tables.push_back(NewTable(false));
            Fill(*tables.back(), records);
        }
        g_peak.store(g_inUse.load());
        state.ResumeTiming();
        bytes = 0;
        for (const std::unique_ptr<tslData> &table : tables) {
            table->BuildResponse();
            bytes += table->m_response.size();
        }
        benchmark::DoNotOptimize(bytes);
        state.PauseTiming();
        // Everything the tables held at the writer's peak (records not yet
        // written and the responses so far), against the responses' size.
        peakRatio = static_cast<double>(g_peak.load() - before) / static_cast<double>(bytes);
        tables.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * records * responses);
    state.counters["response_bytes"] = static_cast<double>(bytes);
    state.counters["peak_memory/response"] = peakRatio;
}
BENCHMARK(BM_WriteResponse)
    ->Args({kLarge, 1})
    ->Args({kLarge / 10, 10})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Keeps each run's time per item so that main can print the ratios; with
// repetitions the median of the repetitions is used.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            // Single runs, or the median when only aggregates are reported.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const auto rate = run.counters.find("items_per_second");
            if (rate == run.counters.end() || rate->second.value <= 0) continue;
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            secondsPerItem[name].push_back(1.0 / rate->second.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double Median(const std::string &name) {
        std::vector<double> &times = secondsPerItem[name];
        if (times.empty()) return 0;
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    }

  private:
    std::map<std::string, std::vector<double>> secondsPerItem;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto per = [&](const std::string &name) { return reporter.Median(name); };
    const double plain = per("BM_FillTable/0");
    const double unique = per("BM_FillTable/1");
    const double large = per("BM_WriteResponse/100000/1");
    const double small = per("BM_WriteResponse/10000/10");
    if (plain > 0 && unique > 0)
        std::printf("UNIQUE table / plain table, 100000 records = %.3f (target <= 1.3)\n",
                    unique / plain);
    if (large > 0 && small > 0)
        std::printf(
            "per record: one 100000-record response / ten 10000-record ones = %.3f "
            "(target <= 1.2)\n",
            large / small);
    benchmark::Shutdown();
    return 0;
}
