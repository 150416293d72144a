// Helpers of the request and result tests: captured log lines, and scripts
// that drive a tslData through its public operations and write down what it
// answers (tests/data/result/README.md describes them).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "result/tsl_data.h"

namespace tabletest {

// Collects the trace log's lines while alive, as "LEVEL: message" (the thread
// id of the prefix removed, no line end).
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    const std::vector<std::string> &Lines() const { return m_lines; }

  private:
    static void Sink(void *self, const char *line, std::size_t size);
    std::vector<std::string> m_lines;
};

// A tslData built from `text` as the invoke pipeline builds it, parsed.
std::unique_ptr<tslData> Parse(const std::string &text, bool raw = false, int *status = nullptr);

// The request fields that are set, one per line ("  name value").
std::string Dump(const tslRequest &request);

// `text` with backslash, control bytes and (when `quote`) double quotes
// escaped C-style; bytes of 128 and more stay as they are.
std::string Show(std::string_view text, bool quote = true);

// Runs every tests/data/<folder>/*.case script and compares its transcript with
// the golden file beside it (or rewrites that file).
void RunScripts(const std::string &folder);

}  // namespace tabletest
