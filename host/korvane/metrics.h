// Counters the server exposes at GET /metrics in the Prometheus text format.
// Every operation is thread-safe.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace korvane {

class Metrics {
  public:
    // Upper bounds (seconds) of the invoke latency histogram buckets.
    static constexpr std::array<double, 14> kLatencyBounds = {
        0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0, 5.0};
    // Distinct table labels kept; further names are counted under "(other)"
    // so that callers cannot grow the label set without bound.
    static constexpr std::size_t kMaxTableLabels = 64;

    // One finished "invoke": the table it asked for, Dorvex's result code and
    // how long the call took.
    void RecordInvoke(std::string_view table, int32_t result, std::chrono::nanoseconds latency);
    void RecordHttpStatus(unsigned status);
    void AddBytesIn(std::uint64_t bytes) { m_bytesIn.fetch_add(bytes, std::memory_order_relaxed); }
    void AddBytesOut(std::uint64_t bytes) {
        m_bytesOut.fetch_add(bytes, std::memory_order_relaxed);
    }
    void EventDelivered() { m_eventsDelivered.fetch_add(1, std::memory_order_relaxed); }
    void EventUnreadable() { m_eventsUnreadable.fetch_add(1, std::memory_order_relaxed); }
    void EventDropped() { m_eventsDropped.fetch_add(1, std::memory_order_relaxed); }

    std::string Render() const;

  private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::uint64_t> m_byTable;
    std::map<int32_t, std::uint64_t> m_byResult;
    std::map<unsigned, std::uint64_t> m_byStatus;
    std::array<std::uint64_t, kLatencyBounds.size() + 1> m_buckets{};  // last: +Inf
    double m_latencySum = 0;
    std::uint64_t m_latencyCount = 0;

    std::atomic<std::uint64_t> m_bytesIn{0};
    std::atomic<std::uint64_t> m_bytesOut{0};
    std::atomic<std::uint64_t> m_eventsDelivered{0};
    std::atomic<std::uint64_t> m_eventsUnreadable{0};
    std::atomic<std::uint64_t> m_eventsDropped{0};
};

// A Prometheus label value with backslash, double quote and line feed escaped.
std::string PrometheusLabel(std::string_view value);

}  // namespace korvane
