// The test host: drives the plug-in through Dorvex in this process, with the
// trace log's debugger channel, the clock and the host callback all captured,
// so that whole outputs (response bytes, trace lines, event texts) can be
// compared exactly. Plus golden files and readers written independently of
// the plug-in's own parser.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dorvex.h"

namespace nt {

// The fixed clock: Tue Nov 14 22:13:20 2023 UTC.
inline constexpr std::time_t kFixedTime = 1700000000;
inline constexpr const char *kVersion = "V02.000.02";

std::string ReadFile(const std::string &path);
// `relative` below the source tree.
std::string SourcePath(const std::string &relative);
// Compares `actual` with tests/data/`relative` byte for byte. With
// NT_UPDATE_GOLDEN=1 in the environment the file is written instead.
::testing::AssertionResult MatchesGolden(const std::string &relative, const std::string &actual);
// How many descriptors of this process are open on `path`.
int OpenCount(const std::string &path);

// Makes a fresh directory the current one while it lives (log files are made
// in the current directory), then removes it.
class TempCwd {
  public:
    TempCwd();
    ~TempCwd();
    TempCwd(const TempCwd &) = delete;
    TempCwd &operator=(const TempCwd &) = delete;
    std::string Path(const std::string &name) const { return m_dir + "/" + name; }

  private:
    std::string m_previous, m_dir;
};

std::string UrlDecode(std::string_view text);

struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string Attribute(std::string_view key) const;
};
// The elements of an XML text in document order; empty if it is not well-formed.
std::vector<Element> ReadXml(std::string_view xml);

// A select of `table` with `sponsor` (none when empty) and `attributes` on the root.
std::string Select(const std::string &table, const std::string &where = "",
                   const std::string &output = "<all/>", const std::string &sponsor = "",
                   const std::string &attributes = "");

using Fields = std::vector<std::pair<std::string, std::string>>;
// (target name, atom value) of every predicate of a URL-encoded event request.
Fields EventFields(const std::string &urlEncoded);
// The value of the field `name`, or "<absent>".
std::string Field(const Fields &fields, const std::string &name);

// Log text with this thread's identifier shown as "[tid]" and the host
// callback's address as "0xCALLBACK".
std::string Normalised(std::string log);

struct Reply {
    int32_t result = 0;
    bool answered = false;  // a response pointer was stored
    std::string response;
    uint32_t length = 0;  // arg6 after the call
    int32_t freed = -1;   // what "free" of the response answered
};

// One at a time per process: the sink and the host callback reach the live one.
class Host {
  public:
    explicit Host(std::string name = "NorloTessel", std::string dispatch = "Dorvex");
    ~Host();  // terminates and restores the system clock and standard error
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    int32_t Call(const char *action, uintptr_t a1 = 0, uintptr_t a2 = 0, uintptr_t a3 = 0,
                 uintptr_t a4 = 0, uintptr_t a5 = 0, uintptr_t a6 = 0);
    int32_t Initialize(const char *configuration = nullptr);
    // "invoke" (arg4 `remote`, arg6 the length), then "free" of the stored response.
    Reply Invoke(const std::string &request, const char *remote = nullptr);

    // Debugger-channel lines since the last call, Normalised.
    std::string TakeLog();
    // URL-encoded "SendEvent" texts since the last call.
    std::vector<std::string> TakeEvents();
    // "CallTessel" calls since the last call, as "host|tessel|request"; they
    // are answered 1 without a response.
    std::vector<std::string> TakeCalls();

    std::string name, dispatch, version = kVersion;
};

// Every drill-down link (LINK attribute) of `response`, and of the responses
// they lead to, invoked once each in the order found: "-- link URL\nRESPONSE".
std::string FollowLinks(Host &host, const std::string &response);

}  // namespace nt
