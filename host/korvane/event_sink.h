// Where the plug-in's "SendEvent" events go. The callback only queues the
// URL-encoded text (the plug-in holds its event lock while it waits for us);
// one writer thread decodes each event, reads it as an "EventSend" request and
// writes it out, in the order the events arrived.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "xml_readers.h"

namespace korvane {

class Metrics;

class EventSink {
  public:
    // Events waiting for the writer; beyond this Submit drops the event.
    static constexpr std::size_t kMaxQueued = 4096;
    // The writer writes what has queued up at least this often, and at once
    // when kWakeBatch events are waiting.
    static constexpr std::chrono::milliseconds kWritePause{10};
    static constexpr std::size_t kWakeBatch = 256;

    // Events as JSON lines appended to `path`; false with `error` set when
    // the file cannot be opened.
    bool OpenJsonFile(const std::string &path, std::string &error);
    // Events as one summary line each on `stream` (not owned); a null
    // stream accepts events and drops them.
    void UseSummaryStream(std::FILE *stream);
    void SetMetrics(Metrics *metrics) { m_metrics = metrics; }

    EventSink() = default;
    ~EventSink() { Close(); }
    EventSink(const EventSink &) = delete;
    EventSink &operator=(const EventSink &) = delete;

    // Queues one URL-encoded event text; false (not delivered) once the sink
    // is closed or when the queue is full. Never waits for the writer.
    bool Submit(std::string urlEncoded);
    // Writes everything queued, then stops the writer. Idempotent.
    void Close();

  private:
    void Start();
    void WriterLoop();
    void WriteEvent(const std::string &urlEncoded);

    std::FILE *m_out = nullptr;
    bool m_ownsOut = false;
    bool m_json = false;
    Metrics *m_metrics = nullptr;

    std::mutex m_mutex;
    std::condition_variable m_work;  // the writer waits for events
    std::deque<std::string> m_queue;
    bool m_closed = false;
    bool m_writerSleeping = false;  // waiting for a first event
    bool m_writerIdle = false;      // letting a batch gather
    std::thread m_writer;
};

// One event as a JSON object, fields in the order the event has them: field
// name to value, "s:" values as strings, "l:" and "t:" values as numbers
// (when they are whole numbers that fit 64 bits; strings otherwise). A name
// that comes twice keeps its first place and its last value. Bytes that are
// not UTF-8 become U+FFFD. No line feed.
std::string EventJson(const RequestSummary &event);
// One event as a readable line (no line feed).
std::string EventSummary(const RequestSummary &event);

}  // namespace korvane
