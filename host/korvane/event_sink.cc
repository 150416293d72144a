#include "event_sink.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>

#include "event_scan.h"
#include "metrics.h"
#include "text_util.h"

namespace korvane {

namespace {

using Json = nlohmann::ordered_json;

// A field's value without its type prefix: "l:" and "t:" values that are
// whole numbers of 64 bits become JSON numbers, longer ones strings of their
// digits; a value without a known prefix stays as it is.
Json DecodeValue(std::string_view encoded) {
    if (encoded.size() >= 2 && encoded[1] == ':') {
        const std::string_view rest = encoded.substr(2);
        const bool digits = !rest.empty() && rest.find_first_not_of("0123456789") == rest.npos;
        if (encoded[0] == 's' || ((encoded[0] == 'l' || encoded[0] == 't') && digits)) {
            std::uint64_t number = 0;
            if (encoded[0] != 's' &&
                std::from_chars(rest.data(), rest.data() + rest.size(), number).ec == std::errc())
                return Json(number);
            return Json(rest);
        }
    }
    return Json(encoded);
}

std::string FieldValue(const RequestSummary &event, std::string_view name) {
    for (const auto &[field, value] : event.fields)
        if (field == name) {
            const Json decoded = DecodeValue(value);
            return decoded.is_string() ? decoded.get<std::string>() : decoded.dump();
        }
    return "-";
}

// Compact, UTF-8 as it is; bytes that are not UTF-8 become U+FFFD, so that
// every line is valid JSON.
std::string Dump(const Json &json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string EventJson(const RequestSummary &event) {
    Json object = Json::object();
    for (const auto &[field, encoded] : event.fields) object[field] = DecodeValue(encoded);
    return Dump(object);
}

std::string EventSummary(const RequestSummary &event) {
    return "event method=\"" + FieldValue(event, "Method") +
           "\" status=" + FieldValue(event, "cs_status") +
           " result=" + FieldValue(event, "Return Code") + " client=" + FieldValue(event, "c_ip") +
           " in=" + FieldValue(event, "cs_bytes") + " out=" + FieldValue(event, "sc_bytes") +
           " taxonomy=" + FieldValue(event, "Taxonomy");
}

bool EventSink::OpenJsonFile(const std::string &path, std::string &error) {
    std::FILE *file = std::fopen(path.c_str(), "ae");
    if (file == nullptr) {
        error = "cannot open events file " + path + ": " + std::strerror(errno);
        return false;
    }
    m_out = file;
    m_ownsOut = true;
    m_json = true;
    Start();
    return true;
}

void EventSink::UseSummaryStream(std::FILE *stream) {
    m_out = stream;
    m_ownsOut = false;
    m_json = false;
    Start();
}

void EventSink::Start() {
    m_writer = std::thread([this] { WriterLoop(); });
}

bool EventSink::Submit(std::string urlEncoded) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closed || !m_writer.joinable()) return false;
    if (m_queue.size() >= kMaxQueued) {
        // The plug-in holds its event lock while we run: rather than stall
        // every request behind a slow events file, this event is lost.
        lock.unlock();
        if (m_metrics != nullptr) m_metrics->EventDropped();
        return false;
    }
    m_queue.push_back(std::move(urlEncoded));
    // A busy writer looks at the queue every kWritePause anyway; waking it
    // for each event would cost a futex call inside the plug-in's event lock.
    if (m_writerSleeping || (m_writerIdle && m_queue.size() >= kWakeBatch)) m_work.notify_one();
    return true;
}

void EventSink::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_work.notify_all();
    }
    if (m_writer.joinable()) m_writer.join();
    if (m_ownsOut && m_out != nullptr) std::fclose(m_out);
    m_out = nullptr;
    m_ownsOut = false;
}

void EventSink::WriterLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::deque<std::string> batch;
    for (;;) {
        if (!m_closed && m_queue.size() < kWakeBatch) {
            if (m_queue.empty()) {
                m_writerSleeping = true;
                m_work.wait(lock, [&] { return m_closed || !m_queue.empty(); });
                m_writerSleeping = false;
            }
            // Let a batch gather instead of waking for every event.
            m_writerIdle = true;
            m_work.wait_for(lock, kWritePause,
                            [&] { return m_closed || m_queue.size() >= kWakeBatch; });
            m_writerIdle = false;
        }
        if (m_queue.empty()) {
            if (m_closed) break;
            continue;
        }
        batch.clear();
        batch.swap(m_queue);
        lock.unlock();
        for (const std::string &event : batch) WriteEvent(event);
        if (m_out != nullptr) std::fflush(m_out);
        lock.lock();
    }
}

void EventSink::WriteEvent(const std::string &urlEncoded) {
    if (m_out == nullptr) return;  // events are not wanted
    RequestSummary event;
    std::string error;
    std::string line;
    const std::string text = UrlDecode(urlEncoded);
    if (ScanEventText(text, event) || ReadRequestText(text, event, error)) {
        line = m_json ? EventJson(event) : EventSummary(event);
        if (m_metrics != nullptr) m_metrics->EventDelivered();
    } else {
        line = m_json ? Dump(Json{{"unreadable event", error}}) : "event unreadable: " + error;
        if (m_metrics != nullptr) m_metrics->EventUnreadable();
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), m_out);
}

}  // namespace korvane
