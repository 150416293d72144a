// Helpers shared by the entry tests.
#pragma once

#include <string>
#include <vector>

namespace entrytest {

// A tessel name no other test (or earlier run) uses.
std::string UniqueName(const char *stem);

// The absolute path of `name` in the current directory.
std::string InCwd(const std::string &name);

// How many descriptors of this process have `path` open.
int OpenCount(const std::string &path);

bool Exists(const std::string &path);
std::string ReadFile(const std::string &path);

// The 20-character prefix this thread's messages carry with `tag`.
std::string Prefix(const char *tag);

// Splits debugger-channel text into messages: a message starts at a line that
// begins with a log prefix (optionally behind a file-mode date stamp when
// `dated`), and runs until the next such line.
std::vector<std::string> SplitMessages(const std::string &text, bool dated = false);

// Removes a file when the test ends.
class ScopedFile {
  public:
    explicit ScopedFile(std::string path);
    ~ScopedFile();
    ScopedFile(const ScopedFile &) = delete;
    ScopedFile &operator=(const ScopedFile &) = delete;
    const std::string &Path() const { return m_path; }

  private:
    std::string m_path;
};

}  // namespace entrytest
