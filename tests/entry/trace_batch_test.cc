// Trace lines gathered in a batch reach standard error whole and in the order
// they were logged: warnings and errors at once behind what came before them,
// long lines in order, the rest when the batch ends or fills.
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/trace_log.h"

namespace {

// Standard error captured into a file for as long as this lives.
class StderrFile {
  public:
    StderrFile() : m_file(std::tmpfile()), m_saved(dup(2)) { dup2(fileno(m_file), 2); }
    ~StderrFile() {
        dup2(m_saved, 2);
        close(m_saved);
        std::fclose(m_file);
    }
    std::string Text() const {
        std::string text;
        std::rewind(m_file);
        for (int c; (c = std::fgetc(m_file)) != EOF;) text.push_back(static_cast<char>(c));
        return text;
    }

  private:
    std::FILE *m_file;
    int m_saved;
};

std::string Tag(const char *level) {
    char id[16];
    std::snprintf(id, sizeof id, "[0x%08x] ", TslThreadId());
    return std::string(level) + id;
}

TEST(TraceBatch, LinesKeepTheirOrderAndStayWholeAndGatherUntilTheEnd) {
    const int level = TslGetLevel();
    TslSetLevel(TSL_TRACE);
    StderrFile err;
    std::string expected;
    {
        TslBatch outer;
        TslLog(TSL_TRACE, "first %d\n", 1);
        {
            TslBatch inner;  // nested: only the outer end writes
            TslLog(TSL_TRACE, "second\n");
        }
        expected = Tag("TRACE: ") + "first 1\n" + Tag("TRACE: ") + "second\n";
        EXPECT_EQ(err.Text(), "") << "trace lines wait for the batch";

        TslLog(TSL_WARNING, "warned\n");
        expected += Tag("WARN:  ") + "warned\n";
        EXPECT_EQ(err.Text(), expected) << "a warning is written at once, behind earlier lines";

        TslLog(TSL_TRACE, "third\n");
        const std::string longer(PIPE_BUF, 'x');
        TslLog(TSL_TRACE, "%s\n", longer.c_str());
        expected += Tag("TRACE: ") + "third\n" + Tag("TRACE: ") + longer + "\n";
        EXPECT_EQ(err.Text(), expected) << "a long line goes at once, behind earlier lines";

        // 120 lines of 60 bytes: the batch fills and writes whole lines only.
        for (int i = 0; i < 120; ++i) {
            TslLog(TSL_TRACE, "%03d %s\n", i, std::string(34, 'y').c_str());
            expected += Tag("TRACE: ") +
                        (i < 10    ? "00"
                         : i < 100 ? "0"
                                   : "") +
                        std::to_string(i) + " " + std::string(34, 'y') + "\n";
        }
        const std::string partial = err.Text();
        EXPECT_GT(partial.size(), expected.size() - 120 * 60);
        EXPECT_LT(partial.size(), expected.size());
        EXPECT_EQ(partial.back(), '\n');
        EXPECT_EQ(partial, expected.substr(0, partial.size()));
    }
    EXPECT_EQ(err.Text(), expected);
    TslLog(TSL_TRACE, "unbatched\n");
    EXPECT_EQ(err.Text(), expected + Tag("TRACE: ") + "unbatched\n");
    TslSetLevel(level);
}

}  // namespace
