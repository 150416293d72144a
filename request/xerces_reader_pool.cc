#include "request/xerces_reader_pool.h"

#include <pthread.h>

#include <cstddef>
#include <mutex>
#include <new>
#include <utility>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLUni.hpp>

using namespace xercesc;

namespace xerces_reader_pool {

// Used by one parse at a time, like its reader: not locked.
class KeptBlocks final : public MemoryManager {
  public:
    KeptBlocks() = default;
    KeptBlocks(const KeptBlocks &) = delete;
    KeptBlocks &operator=(const KeptBlocks &) = delete;
    ~KeptBlocks() override {
        for (std::size_t i = 0; i < m_count; ++i) ::operator delete(m_kept[i]);
    }

    MemoryManager *getExceptionMemoryManager() override {
        return XMLPlatformUtils::fgMemoryManager->getExceptionMemoryManager();
    }

    void *allocate(XMLSize_t size) override {
        if (IsKept(size)) {
            for (std::size_t i = 0; i < m_count; ++i) {
                if (m_kept[i]->size != size) continue;
                Header *block = m_kept[i];
                m_kept[i] = m_kept[--m_count];
                return block + 1;
            }
        }
        if (size > kMaxRequest) throw OutOfMemoryException();
        void *raw;
        try {
            raw = ::operator new(sizeof(Header) + size);
        } catch (const std::bad_alloc &) {
            throw OutOfMemoryException();
        }
        Header *block = new (raw) Header{size};
        return block + 1;
    }

    void deallocate(void *p) override {
        if (p == nullptr) return;
        Header *block = static_cast<Header *>(p) - 1;
        if (IsKept(block->size) && m_count < kMaxKept) {
            m_kept[m_count++] = block;
            return;
        }
        ::operator delete(block);
    }

  private:
    // Keeps the block's size in front of it, at the alignment new gives.
    struct alignas(alignof(std::max_align_t)) Header {
        std::size_t size;
    };
    // Blocks from 64 KiB to 256 KiB are kept, two at most: bounded memory per
    // pooled reader, and room for the input reader a parse makes.
    static constexpr std::size_t kKeptFrom = std::size_t{64} << 10;
    static constexpr std::size_t kKeptUpTo = std::size_t{256} << 10;
    static constexpr std::size_t kMaxKept = 2;
    static constexpr std::size_t kMaxRequest = std::size_t{1} << 62;
    static bool IsKept(std::size_t size) { return size >= kKeptFrom && size <= kKeptUpTo; }

    Header *m_kept[kMaxKept] = {};
    std::size_t m_count = 0;
};

namespace {

// Bounds entity expansion. Requests never declare entities (a DOCTYPE stops the
// parse before its internal subset), so this is a second line of defence.
constexpr XMLSize_t kEntityExpansionLimit = 1000;
// Readers kept for reuse; more concurrent parses simply create more readers.
constexpr std::size_t kMaxPooled = 64;

std::mutex g_poolMutex;
// A reader goes back, when it can, to the thread that used it last: the
// memory a reader holds then stays with the heap of the thread that made it,
// instead of every parse freeing memory of another thread's heap, which makes
// threads that parse at once queue on each other's heap locks.
struct Pooled {
    SAX2XMLReader *reader;
    KeptBlocks *memory;
    pthread_t lastUser;
};

// Process-wide state stays trivially destructible: at process exit, static
// destructors may run before the library's unload hook, which drains the pool.
// Owned pointers are adopted into ReaderPtr / unique_ptr whenever they move.
Pooled g_pool[kMaxPooled] = {};         // guarded by g_poolMutex
std::size_t g_pooled = 0;               // guarded by g_poolMutex
SecurityManager *g_security = nullptr;  // guarded by g_poolMutex

SecurityManager *SharedSecurityManager() {
    if (g_security == nullptr) {
        auto security = std::make_unique<SecurityManager>();
        security->setEntityExpansionLimit(kEntityExpansionLimit);
        g_security = security.release();
    }
    return g_security;
}

}  // namespace

void ReaderDeleter::operator()(SAX2XMLReader *reader) const {
    delete reader;
    delete memory;
}

ReaderPtr Acquire() {
    SecurityManager *security;
    {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        if (g_pooled > 0) {
            std::size_t pick = g_pooled - 1;
            const pthread_t self = pthread_self();
            for (std::size_t i = g_pooled; i-- > 0;) {
                if (pthread_equal(g_pool[i].lastUser, self)) {
                    pick = i;
                    break;
                }
            }
            const Pooled pooled = g_pool[pick];
            g_pool[pick] = g_pool[--g_pooled];
            g_pool[g_pooled] = Pooled{};
            return ReaderPtr(pooled.reader, ReaderDeleter{pooled.memory});
        }
        security = SharedSecurityManager();
    }
    auto memory = std::make_unique<KeptBlocks>();
    ReaderPtr reader(XMLReaderFactory::createXMLReader(memory.get()), ReaderDeleter{memory.get()});
    memory.release();  // owned by the reader's deleter from here
    reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
    reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    reader->setFeature(XMLUni::fgXercesSchema, false);
    reader->setFeature(XMLUni::fgXercesLoadSchema, false);
    reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
    reader->setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
    reader->setProperty(XMLUni::fgXercesSecurityManager, security);
    return reader;
}

void Release(ReaderPtr reader) {
    if (!reader) return;
    reader->setContentHandler(nullptr);
    reader->setErrorHandler(nullptr);
    reader->setLexicalHandler(nullptr);
    reader->setEntityResolver(nullptr);
    std::lock_guard<std::mutex> lock(g_poolMutex);
    if (g_pooled < kMaxPooled) {
        KeptBlocks *memory = reader.get_deleter().memory;
        g_pool[g_pooled++] = Pooled{reader.release(), memory, pthread_self()};
    }
}

void Drain() {
    std::lock_guard<std::mutex> lock(g_poolMutex);
    while (g_pooled > 0) {
        const Pooled pooled = std::exchange(g_pool[--g_pooled], Pooled{});
        ReaderPtr(pooled.reader, ReaderDeleter{pooled.memory});
    }
    std::unique_ptr<SecurityManager>(std::exchange(g_security, nullptr));
}

}  // namespace xerces_reader_pool
