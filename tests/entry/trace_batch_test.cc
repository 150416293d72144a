// Trace lines gathered in a batch reach standard error whole and in the order
// they were logged: warnings and long lines at once behind what came before
// them, the rest when the batch fills or ends.
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/trace_log.h"

namespace {

TEST(TraceBatch, LinesKeepTheirOrderAndStayWholeAndGatherUntilTheEnd) {
    const int level = TslGetLevel();
    TslSetLevel(TSL_TRACE);
    std::FILE *file = std::tmpfile();
    const int saved = dup(2);
    dup2(fileno(file), 2);
    auto written = [&] {
        std::string text(static_cast<std::size_t>(lseek(fileno(file), 0, SEEK_END)), '\0');
        EXPECT_EQ(pread(fileno(file), text.data(), text.size(), 0),
                  static_cast<ssize_t>(text.size()));
        return text;
    };
    char id[16];
    std::snprintf(id, sizeof id, "[0x%08x] ", TslThreadId());
    std::string logged;  // everything logged so far, as it must be written
    auto log = [&](int level, const std::string &text) {
        TslLog(level, "%s\n", text.c_str());
        logged += (level == TSL_TRACE ? "TRACE: " : "WARN:  ") + std::string(id) + text + "\n";
    };
    {
        TslBatch outer;
        {
            TslBatch inner;  // nested: only the outer end writes
            log(TSL_TRACE, "first");
        }
        EXPECT_EQ(written(), "") << "trace lines wait for the batch";
        log(TSL_WARNING, "warned");
        EXPECT_EQ(written(), logged) << "a warning goes at once, behind earlier lines";
        log(TSL_TRACE, "second");
        log(TSL_TRACE, std::string(PIPE_BUF, 'x'));
        EXPECT_EQ(written(), logged) << "a long line goes at once, behind earlier lines";
        for (int i = 0; i < 120; ++i)
            log(TSL_TRACE, std::to_string(1000 + i) + std::string(40, 'y'));
        const std::string partial = written();
        EXPECT_GT(partial.size(), logged.size() - 120 * 64) << "a full batch is written";
        EXPECT_LT(partial.size(), logged.size());
        EXPECT_EQ(partial, logged.substr(0, partial.size())) << "whole lines, in order";
    }
    EXPECT_EQ(written(), logged);
    log(TSL_TRACE, "unbatched");
    EXPECT_EQ(written(), logged);
    dup2(saved, 2);
    close(saved);
    std::fclose(file);
    TslSetLevel(level);
}

}  // namespace
