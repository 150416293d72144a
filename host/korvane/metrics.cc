#include "metrics.h"

#include <cstdio>

#include "text_util.h"

namespace korvane {

std::string PrometheusLabel(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

namespace {

// Well-formed UTF-8 without control characters: safe in a label whatever
// reads the exposition.
bool IsPlainUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x20 || lead == 0x7f) return false;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
        if (length == 0 || lead > 0xf4 || i + length > text.size()) return false;
        std::uint32_t code = lead & (0x7f >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            code = code << 6 | (next & 0x3f);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff) ||
            (code >= 0x80 && code < 0xa0))
            return false;
        i += length;
    }
    return true;
}

bool IsFixedLabel(std::string_view label) {
    for (std::string_view fixed : Metrics::kFixedLabels)
        if (label == fixed) return true;
    return false;
}

}  // namespace

std::string InvokeLabel(std::string_view request, int32_t result, const std::string *response) {
    if (result != 0 || response == nullptr) return "(error)";
    const std::string_view text(*response);
    const std::size_t info = FindText(text, "<TBL_INFO>");
    if (info == std::string_view::npos) {
        // A describe answer carries no table; it is a success, not an error.
        return FindText(text, "<DESCRIPTION>") != std::string_view::npos &&
                       FindText(text, "<ERROR>") == std::string_view::npos
                   ? "(describe)"
                   : "(error)";
    }
    // An error block follows the table information at once: the rest of a
    // large response need not be searched.
    const std::size_t infoEnd = FindText(text, "</TBL_INFO>", info);
    std::string_view after =
        infoEnd == std::string_view::npos ? text.substr(info) : text.substr(infoEnd);
    after = after.substr(0, after.find("<COLS>"));
    if (const std::size_t error = FindText(after, "<ERROR>"); error != std::string_view::npos) {
        if (FindText(after, "<CODE>404</CODE>", error) == std::string_view::npos) return "(error)";
        return PeekTableName(request).empty() ? "(no table)" : "(unknown table)";
    }
    std::string table = AnsweredTableName(text);
    if (!table.empty()) return table;
    return request.find("<!DOCTYPE") != std::string_view::npos ? "(doctype refused)"
                                                               : "(unparsable)";
}

void Metrics::RecordInvoke(std::string_view table, int32_t result,
                           std::chrono::nanoseconds latency) {
    const double seconds = std::chrono::duration<double>(latency).count();
    std::size_t bucket = 0;
    while (bucket < kLatencyBounds.size() && seconds > kLatencyBounds[bucket]) ++bucket;

    std::lock_guard<std::mutex> lock(m_mutex);
    if (IsFixedLabel(table)) {
        ++m_byFixed[std::string(table)];
    } else if (auto known = m_byTable.find(std::string(table)); known != m_byTable.end()) {
        ++known->second;
    } else if (m_byTable.size() < kMaxTableLabels && table.size() <= kMaxLabelBytes &&
               !table.empty() && IsPlainUtf8(table)) {
        m_byTable.emplace(std::string(table), 1);
    } else {
        ++m_byFixed["(other)"];
    }
    ++m_byResult[result];
    ++m_buckets[bucket];
    m_latencySum += seconds;
    ++m_latencyCount;
}

void Metrics::RecordHttpStatus(unsigned status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_byStatus[status];
}

std::string Metrics::Render() const {
    std::string out;
    char line[256];
    std::lock_guard<std::mutex> lock(m_mutex);

    out +=
        "# HELP korvane_requests_total Invokes by table answered, or by what kept them "
        "from one.\n";
    out += "# TYPE korvane_requests_total counter\n";
    for (const auto *labels : {&m_byTable, &m_byFixed})
        for (const auto &[table, count] : *labels)
            out += "korvane_requests_total{table=\"" + PrometheusLabel(table) + "\"} " +
                   std::to_string(count) + "\n";

    out += "# HELP korvane_invoke_results_total Invokes by Dorvex result code.\n";
    out += "# TYPE korvane_invoke_results_total counter\n";
    for (const auto &[result, count] : m_byResult)
        out += "korvane_invoke_results_total{result=\"" + std::to_string(result) + "\"} " +
               std::to_string(count) + "\n";

    out += "# HELP korvane_http_responses_total HTTP responses by status code.\n";
    out += "# TYPE korvane_http_responses_total counter\n";
    for (const auto &[status, count] : m_byStatus)
        out += "korvane_http_responses_total{code=\"" + std::to_string(status) + "\"} " +
               std::to_string(count) + "\n";

    out += "# HELP korvane_invoke_duration_seconds Time spent in Dorvex invoke.\n";
    out += "# TYPE korvane_invoke_duration_seconds histogram\n";
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < kLatencyBounds.size(); ++i) {
        cumulative += m_buckets[i];
        std::snprintf(line, sizeof line, "korvane_invoke_duration_seconds_bucket{le=\"%g\"} %llu\n",
                      kLatencyBounds[i], static_cast<unsigned long long>(cumulative));
        out += line;
    }
    cumulative += m_buckets.back();
    out +=
        "korvane_invoke_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(cumulative) + "\n";
    std::snprintf(line, sizeof line, "korvane_invoke_duration_seconds_sum %.9f\n", m_latencySum);
    out += line;
    out += "korvane_invoke_duration_seconds_count " + std::to_string(m_latencyCount) + "\n";

    out += "# HELP korvane_events_delivered_total Events from the plug-in written out.\n";
    out += "# TYPE korvane_events_delivered_total counter\n";
    out += "korvane_events_delivered_total " + std::to_string(m_eventsDelivered.load()) + "\n";
    out += "# HELP korvane_events_unreadable_total Events that were not readable requests.\n";
    out += "# TYPE korvane_events_unreadable_total counter\n";
    out += "korvane_events_unreadable_total " + std::to_string(m_eventsUnreadable.load()) + "\n";

    out += "# HELP korvane_events_dropped_total Events lost because the writer fell behind.\n";
    out += "# TYPE korvane_events_dropped_total counter\n";
    out += "korvane_events_dropped_total " + std::to_string(m_eventsDropped.load()) + "\n";

    out += "# HELP korvane_request_bytes_total Request body bytes received.\n";
    out += "# TYPE korvane_request_bytes_total counter\n";
    out += "korvane_request_bytes_total " + std::to_string(m_bytesIn.load()) + "\n";
    out += "# HELP korvane_response_bytes_total Response bytes sent for invokes.\n";
    out += "# TYPE korvane_response_bytes_total counter\n";
    out += "korvane_response_bytes_total " + std::to_string(m_bytesOut.load()) + "\n";
    return out;
}

}  // namespace korvane
