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
    // Table labels name tables the plug-in answered. Every other invoke is
    // counted under one of these fixed labels, which take no table slot.
    static constexpr std::array<std::string_view, 7> kFixedLabels = {
        "(unknown table)",    // the plug-in knows no table of the name asked for
        "(no table)",         // the request names no table
        "(describe)",         // the plug-in described itself (admin action)
        "(unparsable)",       // the request could not be read
        "(doctype refused)",  // ... because it holds a DOCTYPE
        "(error)",            // any other error answer, or no answer
        "(other)",            // a table beyond the first kMaxTableLabels, or
                              // a name that is too long or not plain UTF-8
    };
    static constexpr std::size_t kMaxTableLabels = 64;
    static constexpr std::size_t kMaxLabelBytes = 128;

    // One finished "invoke": the table it was answered with (or a fixed
    // label), Dorvex's result code and how long the call took.
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
    std::map<std::string, std::uint64_t> m_byFixed;
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

// The label a request is counted under (a table name or a fixed label), from
// the request text and what the plug-in answered.
std::string InvokeLabel(std::string_view request, int32_t result, const std::string *response);

}  // namespace korvane
