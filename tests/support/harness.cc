#include "support/harness.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>

#include "base/clock.h"
#include "base/trace_log.h"

namespace nt {

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string SourcePath(const std::string &relative) {
    return std::string(NT_SOURCE_DIR) + "/" + relative;
}

::testing::AssertionResult MatchesGolden(const std::string &relative, const std::string &actual) {
    const std::string path = SourcePath("tests/data/" + relative);
    if (const char *update = std::getenv("NT_UPDATE_GOLDEN");
        update && std::strcmp(update, "1") == 0) {
        std::ofstream(path, std::ios::binary) << actual;
        return ::testing::AssertionSuccess();
    }
    if (!std::filesystem::exists(path))
        return ::testing::AssertionFailure()
               << path << " is missing (NT_UPDATE_GOLDEN=1 writes it)";
    const std::string expected = ReadFile(path);
    if (expected == actual) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    const std::size_t from = at < 80 ? 0 : at - 80;
    return ::testing::AssertionFailure()
           << relative << " differs at byte " << at << "\n  expected: ..."
           << expected.substr(from, 160) << "\n  actual:   ..." << actual.substr(from, 160);
}

int OpenCount(const std::string &path) {
    int count = 0;
    std::error_code error;
    for (const auto &fd : std::filesystem::directory_iterator("/proc/self/fd"))
        count += std::filesystem::read_symlink(fd.path(), error) == path;
    return count;
}

TempCwd::TempCwd() : m_previous(std::filesystem::current_path()) {
    char dir[] = "/tmp/nt-test-XXXXXX";
    m_dir = mkdtemp(dir) != nullptr ? dir : "/nonexistent";
    std::filesystem::current_path(m_dir);
}

TempCwd::~TempCwd() {
    std::filesystem::current_path(m_previous);
    std::filesystem::remove_all(m_dir);
}

std::string UrlDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool escape = text[i] == '%' && i + 2 < text.size() && std::isxdigit(text[i + 1]) &&
                            std::isxdigit(text[i + 2]);
        out.push_back(
            escape ? static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16))
                   : text[i]);
        if (escape) i += 2;
    }
    return out;
}

std::string Element::Attribute(std::string_view key) const {
    for (const auto &[k, v] : attributes)
        if (k == key) return v;
    return {};
}

namespace {

std::string Utf8(const XMLCh *text) {
    xercesc::TranscodeToStr utf8(text, xercesc::XMLString::stringLen(text), "UTF-8");
    return reinterpret_cast<const char *>(utf8.str());
}

class Collector : public xercesc::DefaultHandler {
  public:
    void startElement(const XMLCh *, const XMLCh *, const XMLCh *qname,
                      const xercesc::Attributes &attributes) override {
        Element element{Utf8(qname), {}};
        for (XMLSize_t i = 0; i < attributes.getLength(); ++i)
            element.attributes.emplace_back(Utf8(attributes.getQName(i)),
                                            Utf8(attributes.getValue(i)));
        elements.push_back(std::move(element));
    }
    void fatalError(const xercesc::SAXParseException &) override { failed = true; }

    std::vector<Element> elements;
    bool failed = false;
};

}  // namespace

std::vector<Element> ReadXml(std::string_view xml) {
    static std::once_flag once;
    std::call_once(once, [] { xercesc::XMLPlatformUtils::Initialize(); });  // kept for the process
    std::unique_ptr<xercesc::SAX2XMLReader> reader(xercesc::XMLReaderFactory::createXMLReader());
    Collector collector;
    reader->setContentHandler(&collector);
    reader->setErrorHandler(&collector);
    xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte *>(xml.data()), xml.size(),
                                      "test", false);
    try {
        reader->parse(source);
    } catch (...) {
        collector.failed = true;
    }
    return collector.failed ? std::vector<Element>{} : std::move(collector.elements);
}

std::string Select(const std::string &table, const std::string &where, const std::string &output,
                   const std::string &sponsor, const std::string &attributes) {
    return "<tesselrequest" + attributes + ">" +
           (sponsor.empty() ? "" : "<sponsor>" + sponsor + "</sponsor>") + "<select><output>" +
           output + "</output><from><db name=\"" + table + "\"/></from><where>" + where +
           "</where></select></tesselrequest>";
}

std::string Field(const Fields &fields, const std::string &name) {
    for (const auto &[key, value] : fields)
        if (key == name) return value;
    return "<absent>";
}

Fields EventFields(const std::string &urlEncoded) {
    Fields fields;
    for (const Element &e : ReadXml(UrlDecode(urlEncoded))) {
        if (e.name == "target") fields.emplace_back(e.Attribute("name"), "");
        if (e.name == "atom" && !fields.empty()) fields.back().second = e.Attribute("value");
    }
    return fields;
}

// ---- Host ------------------------------------------------------------------------

namespace {

std::mutex g_mutex;  // guards everything below
std::string g_log;
std::vector<std::string> g_events;
std::vector<std::string> g_calls;

void Sink(void *, const char *line, std::size_t size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log.append(line, size);
}

std::time_t FixedClock() {
    return kFixedTime;
}

int32_t Callback(const char *, const char *operation, ...) {
    va_list args;
    va_start(args, operation);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (std::strcmp(operation, "SendEvent") == 0) {
        g_events.emplace_back(va_arg(args, const char *));
    } else if (std::strcmp(operation, "CallTessel") == 0) {
        std::string call = va_arg(args, const char *);
        call += std::string("|") + va_arg(args, const char *);
        call += std::string("|") + va_arg(args, const char *);
        if (char **response = va_arg(args, char **)) *response = nullptr;
        g_calls.push_back(call);
    }
    va_end(args);
    return 1;
}

void Replace(std::string &text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, from.size(), to), at += to.size();
}

template <typename T>
T Take(T &value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::exchange(value, T{});
}

}  // namespace

Host::Host(std::string name_, std::string dispatch_)
    : name(std::move(name_)), dispatch(std::move(dispatch_)) {
    setenv("TZ", "UTC", 1);
    tzset();
    TslSetClock(&FixedClock);
    TslSetDebugSink(&Sink, nullptr);
    Take(g_log), Take(g_events), Take(g_calls);
}

Host::~Host() {
    Call("terminate");
    TslSetDebugSink(nullptr, nullptr);
    TslSetClock(nullptr);
    TslSetLevel(TSL_TRACE);
}

int32_t Host::Call(const char *action, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4,
                   uintptr_t a5, uintptr_t a6) {
    return Dorvex(version.c_str(), name.c_str(), dispatch.c_str(), nullptr, action, a1, a2, a3, a4,
                  a5, a6);
}

int32_t Host::Initialize(const char *configuration) {
    return Call("initialize", reinterpret_cast<uintptr_t>(&Callback),
                reinterpret_cast<uintptr_t>(configuration));
}

Reply Host::Invoke(const std::string &request, const char *remote) {
    Reply reply;
    char *response = nullptr;
    reply.length = static_cast<uint32_t>(request.size());
    reply.result =
        Call("invoke", reinterpret_cast<uintptr_t>(request.c_str()),
             reinterpret_cast<uintptr_t>(&response), 0, reinterpret_cast<uintptr_t>(remote), 0,
             reinterpret_cast<uintptr_t>(&reply.length));
    if (response != nullptr) {
        reply.answered = true;
        reply.response = response;
        reply.freed = Call("free", reinterpret_cast<uintptr_t>(response));
    }
    return reply;
}

std::string Host::TakeLog() {
    return Normalised(Take(g_log));
}

std::string Normalised(std::string log) {
    char text[32];
    std::snprintf(text, sizeof text, "[0x%08x]",
                  static_cast<unsigned>(pthread_self() & 0xFFFFFFFFu));
    Replace(log, text, "[tid]");
    std::snprintf(text, sizeof text, "0x%x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(&Callback)));
    Replace(log, text, "0xCALLBACK");
    return log;
}

std::vector<std::string> Host::TakeEvents() {
    return Take(g_events);
}

std::vector<std::string> Host::TakeCalls() {
    return Take(g_calls);
}

std::string FollowLinks(Host &host, const std::string &response) {
    std::vector<std::string> links, followed;
    std::string text;
    for (std::string from = response;;) {
        for (const Element &e : ReadXml(from))
            if (const std::string link = e.Attribute("LINK"); !link.empty()) links.push_back(link);
        while (!links.empty() &&
               std::find(followed.begin(), followed.end(), links.front()) != followed.end())
            links.erase(links.begin());
        if (links.empty()) return text;
        followed.push_back(links.front());
        from = host.Invoke(links.front()).response;
        text += "-- link " + links.front() + "\n" + from;
    }
}

}  // namespace nt
