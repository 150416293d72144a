// Result tables at scale:
//  - filling a 100,000-record table with one UNIQUE predicate, against the same
//    table without predicates (UNIQUE must cost constant time per record);
//  - writing one 100,000-record response, against ten 10,000-record ones, per
//    record (the writer must be linear in the response size), and the memory
//    held while writing against the response's size.
// main prints the ratios after the runs.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "result/tsl_data.h"

namespace {

// While `g_tracking` is set, the bytes in use through operator new (relative
// to when tracking began; frees of older blocks count too) and their highest
// value. Off while anything is timed.
bool g_tracking = false;
int64_t g_inUse = 0;
int64_t g_peak = 0;

void *Allocate(std::size_t size) {
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    if (g_tracking) {
        g_inUse += static_cast<int64_t>(malloc_usable_size(block));
        if (g_inUse > g_peak) g_peak = g_inUse;
    }
    return block;
}

void Release(void *block) {
    if (block == nullptr) return;
    if (g_tracking) g_inUse -= static_cast<int64_t>(malloc_usable_size(block));
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

// Returns how many records the table accepted.
int Fill(tslData &data, int count) {
    const std::vector<Row> &rows = Rows();
    int accepted = 0;
    for (int i = 0; i < count; ++i) {
        const Row &row = rows[static_cast<std::size_t>(i)];
        if (data.AddLinkRecord(row.name.c_str(), row.link.c_str(), row.age.c_str(), nullptr,
                               row.note.c_str(), nullptr, nullptr))
            ++accepted;
    }
    return accepted;
}

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Filling a table of kLarge records, without its destruction.
double TimeFill(bool unique) {
    const double start = ThreadSeconds();
    auto data = NewTable(unique);
    const int accepted = Fill(*data, kLarge);
    const double seconds = ThreadSeconds() - start;
    if (accepted != kLarge) std::abort();
    return seconds;
}

// Writing `responses` responses of `records` records each, without building
// the tables.
double TimeWrite(int records, int responses) {
    std::vector<std::unique_ptr<tslData>> tables;
    for (int i = 0; i < responses; ++i) {
        tables.push_back(NewTable(false));
        Fill(*tables.back(), records);
    }
    const double start = ThreadSeconds();
    for (const std::unique_ptr<tslData> &table : tables) table->BuildResponse();
    return ThreadSeconds() - start;
}

// The most memory a table of `records` records holds from its first record
// to its written response (records not yet written and the response so far),
// against the response's size.
double PeakMemoryRatio(int records) {
    g_inUse = g_peak = 0;
    g_tracking = true;
    auto table = NewTable(false);
    Fill(*table, records);
    table->BuildResponse();
    const double ratio =
        static_cast<double>(g_peak) / static_cast<double>(std::strlen(table->GetResponse()));
    g_tracking = false;
    return ratio;
}

// The same 100,000-record table with and without a UNIQUE predicate on
// "Name", timed in pairs (alternating which goes first) on this thread's CPU
// clock, so that other load on the machine touches both alike.
void BM_UniqueVsPlain(benchmark::State &state) {
    Rows();
    std::vector<double> ratios;
    double plainSum = 0, uniqueSum = 0;
    bool uniqueFirst = false;
    for (auto _ : state) {
        double plain, unique;
        if (uniqueFirst) {
            unique = TimeFill(true);
            plain = TimeFill(false);
        } else {
            plain = TimeFill(false);
            unique = TimeFill(true);
        }
        uniqueFirst = !uniqueFirst;
        plainSum += plain;
        uniqueSum += unique;
        ratios.push_back(unique / plain);
        state.SetIterationTime(plain + unique);
    }
    const double n = static_cast<double>(ratios.size());
    state.counters["plain_ms"] = plainSum / n * 1e3;
    state.counters["unique_ms"] = uniqueSum / n * 1e3;
    state.counters["unique/plain"] = Median(ratios);
}
BENCHMARK(BM_UniqueVsPlain)->UseManualTime()->Iterations(21)->Unit(benchmark::kMillisecond);

// One 100,000-record response against ten 10,000-record ones (the same
// records in all), timed in pairs like the above; per record.
void BM_LargeVsSmallResponses(benchmark::State &state) {
    Rows();
    std::vector<double> ratios;
    double largeSum = 0, smallSum = 0;
    bool largeFirst = true;
    for (auto _ : state) {
        double large, small;
        if (largeFirst) {
            large = TimeWrite(kLarge, 1);
            small = TimeWrite(kLarge / 10, 10);
        } else {
            small = TimeWrite(kLarge / 10, 10);
            large = TimeWrite(kLarge, 1);
        }
        largeFirst = !largeFirst;
        largeSum += large;
        smallSum += small;
        ratios.push_back(large / small);
        state.SetIterationTime(large + small);
    }
    const double n = static_cast<double>(ratios.size());
    state.counters["large_ns/record"] = largeSum / n / kLarge * 1e9;
    state.counters["small_ns/record"] = smallSum / n / kLarge * 1e9;
    state.counters["large/small"] = Median(ratios);
    state.counters["peak_memory/response"] = PeakMemoryRatio(kLarge);
}
BENCHMARK(BM_LargeVsSmallResponses)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);

// Keeps the paired ratios so that main can print them at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            for (const auto &[name, counter] : run.counters) ratios[name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> ratios;
};

}  // namespace

int main(int argc, char **argv) {
    // Keep freed memory in the process: otherwise each table's pages go back
    // to the kernel and are faulted in again by the next one, and that cost
    // (which depends on the allocator's history, not on the code measured)
    // swamps the differences measured here.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ratio = [&](const char *name) {
        const auto found = reporter.ratios.find(name);
        return found == reporter.ratios.end() ? 0.0 : found->second;
    };
    if (ratio("unique/plain") > 0)
        std::printf("UNIQUE table / plain table, 100000 records = %.3f (target <= 1.3)\n",
                    ratio("unique/plain"));
    if (ratio("large/small") > 0)
        std::printf(
            "per record: one 100000-record response / ten 10000-record ones = %.3f "
            "(target <= 1.2); peak memory while writing = %.2f x the response\n",
            ratio("large/small"), ratio("peak_memory/response"));
    benchmark::Shutdown();
    return 0;
}
