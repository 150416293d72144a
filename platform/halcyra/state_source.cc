#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <xercesc/util/PlatformUtils.hpp>

#include "halcyra/session.h"

namespace halcyra {
namespace {

std::atomic<unsigned long> g_loads{0};
std::atomic<unsigned long> g_refreshes{0};

// What identifies one version of a file without reading it.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtim{}, ctim{};

    explicit FileId(const struct stat &st)
        : dev(st.st_dev), ino(st.st_ino), size(st.st_size), mtim(st.st_mtim), ctim(st.st_ctim) {}
    FileId() = default;
    bool operator==(const FileId &o) const {
        return dev == o.dev && ino == o.ino && size == o.size && Same(mtim, o.mtim) &&
               Same(ctim, o.ctim);
    }
    static bool Same(const timespec &a, const timespec &b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }
};

// True while a change to the file could still leave its times as they are:
// file times come from the coarse clock, so a write within the tick in which
// the file was read may carry the same times. (A file dated in the future
// stays in this state, which costs a read and a comparison per look.)
bool MayChangeUnseen(const FileId &id) {
    timespec now{}, tick{};
    if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0 ||
        clock_getres(CLOCK_REALTIME_COARSE, &tick) != 0)
        return true;
    auto nanos = [](const timespec &t) {
        return static_cast<long double>(t.tv_sec) * 1e9L + static_cast<long double>(t.tv_nsec);
    };
    const long double latest = std::max(nanos(id.mtim), nanos(id.ctim));
    return latest + nanos(tick) >= nanos(now);
}

class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

struct FileRead {
    std::string bytes;
    FileId id;  // taken after reading, so a write during the read shows as a change
    std::string_view error;
};

FileRead ReadFile(const char *path) {
    FileRead out;
    // Non-blocking, so that a FIFO cannot hold the open; only regular files are read.
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        out.error = kErrorUnreadable;
        return out;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxStateBytes) {
        out.error = kErrorLimit;
        return out;
    }
    out.bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == out.bytes.size()) {
            // The file grew while being read.
            if (used > kMaxStateBytes) {
                out.error = kErrorLimit;
                return out;
            }
            out.bytes.resize(std::min(used * 2, kMaxStateBytes + 1));
        }
        const ssize_t n = ::read(fd.get(), out.bytes.data() + used, out.bytes.size() - used);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            out.error = kErrorUnreadable;
            return out;
        }
        used += static_cast<std::size_t>(n);
    }
    out.bytes.resize(used);
    if (::fstat(fd.get(), &st) != 0) {
        out.error = kErrorUnreadable;
        return out;
    }
    out.id = FileId(st);
    return out;
}

LoadResult Parse(std::string_view document) {
    g_loads.fetch_add(1, std::memory_order_relaxed);
    return ParseState(document);
}

// Process-wide state, each part reached only through the function that holds
// its lock. Plain pointers rather than objects with destructors: static
// destructors may run before the last server's destructor (a plug-in unloaded
// with a live server). The parts are made on first use and let go when the
// last session ends, so a library loaded and unloaded again leaks nothing.
struct Cache {
    bool sampleLoaded = false;
    LoadResult sample;
    // The last file read.
    std::string path;
    FileId id;
    LoadResult file;
    bool mayChangeUnseen = false;
    std::string bytes;  // kept while mayChangeUnseen, to compare with
};
// What each connected server holds, by connection id. Apart from the cache so
// that user lookups do not wait for a parse.
using Published = std::unordered_map<unsigned long, std::shared_ptr<const State>>;

std::mutex g_cacheMutex;
std::mutex g_publishedMutex;
Cache *g_cache = nullptr;          // under g_cacheMutex
Published *g_published = nullptr;  // under g_publishedMutex
std::atomic<unsigned long> g_sessions{0};

Cache &TheCache() {
    if (g_cache == nullptr) g_cache = std::make_unique<Cache>().release();
    return *g_cache;
}

Published &ThePublished() {
    if (g_published == nullptr) g_published = std::make_unique<Published>().release();
    return *g_published;
}

// Lets go of the process-wide parts once no session is left. A session made
// meanwhile only finds them made anew (a parse more), never freed under it.
void ReleaseWhenUnused() {
    std::unique_ptr<Cache> cache;
    std::unique_ptr<Published> published;
    {
        std::lock_guard<std::mutex> lock(g_cacheMutex);
        if (g_sessions.load() == 0) cache.reset(std::exchange(g_cache, nullptr));
    }
    {
        std::lock_guard<std::mutex> lock(g_publishedMutex);
        if (g_sessions.load() == 0) published.reset(std::exchange(g_published, nullptr));
    }
}

template <class F>
auto WithCache(F &&use) {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    return use(TheCache());
}

template <class F>
auto WithPublished(F &&use) {
    std::lock_guard<std::mutex> lock(g_publishedMutex);
    return use(ThePublished());
}

LoadResult LoadFile(Cache &s, const char *path) {
    struct stat st {};
    if (::stat(path, &st) != 0) return {nullptr, kErrorUnreadable};
    const bool samePath = s.path == path;
    if (samePath && s.id == FileId(st) && !s.mayChangeUnseen) return s.file;
    FileRead read = ReadFile(path);
    if (!read.error.empty()) return {nullptr, read.error};
    if (samePath && s.id == read.id && s.mayChangeUnseen && s.bytes == read.bytes) {
        s.mayChangeUnseen = MayChangeUnseen(read.id);
        if (!s.mayChangeUnseen) std::string().swap(s.bytes);
        return s.file;
    }
    s.file = Parse(read.bytes);
    s.path = path;
    s.id = read.id;
    s.mayChangeUnseen = MayChangeUnseen(read.id);
    s.bytes = s.mayChangeUnseen ? std::move(read.bytes) : std::string();
    return s.file;
}

}  // namespace

unsigned long StateLoadCount() {
    return g_loads.load(std::memory_order_relaxed);
}

unsigned long RefreshCount() {
    return g_refreshes.load(std::memory_order_relaxed);
}

LoadResult LoadCurrentState() {
    // Set by XMLPlatformUtils::Initialize and cleared by the last Terminate,
    // neither of which may run beside this (see halcyra_server.h).
    if (xercesc::XMLPlatformUtils::fgMemoryManager == nullptr) return {nullptr, kErrorNoXml};
    const char *path = std::getenv("NORLO_SERVER_STATE");
    return WithCache([&](Cache &s) {
        if (path != nullptr && *path != '\0') return LoadFile(s, path);
        if (!s.sampleLoaded) {
            s.sample = Parse(SampleStateDocument());
            // A failure here is not the document's (it is fixed): retry next time.
            s.sampleLoaded = s.sample.state != nullptr;
        }
        return s.sample;
    });
}

std::shared_ptr<const State> PublishedState(unsigned long conid) {
    return WithPublished([&](Published &published) -> std::shared_ptr<const State> {
        auto it = published.find(conid);
        return it == published.end() ? nullptr : it->second;
    });
}

std::shared_ptr<const State> EmptyState() {
    // Small and immutable: made anew for each caller rather than kept.
    return std::make_shared<State>();
}

Session::Session(unsigned long conid) : m_conid(conid) {
    g_sessions.fetch_add(1);
}

Session::~Session() {
    Publish(nullptr);
    if (g_sessions.fetch_sub(1) == 1) ReleaseWhenUnused();
}

void Session::Publish(std::shared_ptr<const State> state) {
    std::shared_ptr<const State> previous;  // may be the last reference: freed after the lock
    WithPublished([&](Published &published) {
        auto it = published.find(m_conid);
        if (it == published.end()) {
            if (state) published.emplace(m_conid, std::move(state));
            return;
        }
        previous = std::move(it->second);
        if (state) {
            it->second = std::move(state);
        } else {
            published.erase(it);
        }
    });
}

std::shared_ptr<const State> Session::Connect(std::string_view &error) {
    LoadResult loaded = LoadCurrentState();
    m_connected = loaded.state != nullptr;
    error = loaded.error;
    m_loaded = loaded.state;
    m_loadedAt = std::chrono::steady_clock::now();
    Publish(loaded.state);
    return loaded.state;
}

std::shared_ptr<const State> Session::Refresh() {
    g_refreshes.fetch_add(1, std::memory_order_relaxed);
    if (!m_connected) return nullptr;
    const auto now = std::chrono::steady_clock::now();
    if (m_loaded && now - m_loadedAt < kRefreshReuse) return m_loaded;
    LoadResult loaded = LoadCurrentState();
    if (!loaded.state) return nullptr;
    m_loadedAt = now;
    if (loaded.state != m_loaded) {
        m_loaded = loaded.state;
        Publish(loaded.state);
    }
    return loaded.state;
}

}  // namespace halcyra
