#include "request/xerces_reader_pool.h"

#include <mutex>
#include <utility>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLUni.hpp>

using namespace xercesc;

namespace xerces_reader_pool {
namespace {

// Bounds entity expansion. Requests never declare entities (a DOCTYPE stops the
// parse before its internal subset), so this is a second line of defence.
constexpr XMLSize_t kEntityExpansionLimit = 1000;
// Readers kept for reuse; more concurrent parses simply create more readers.
constexpr std::size_t kMaxPooled = 64;

std::mutex g_poolMutex;
// Process-wide state stays trivially destructible: at process exit, static
// destructors may run before the library's unload hook, which drains the pool.
// Owned pointers are adopted into ReaderPtr / unique_ptr whenever they move.
SAX2XMLReader *g_pool[kMaxPooled] = {};  // guarded by g_poolMutex
std::size_t g_pooled = 0;                // guarded by g_poolMutex
SecurityManager *g_security = nullptr;   // guarded by g_poolMutex

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
}

ReaderPtr Acquire() {
    SecurityManager *security;
    {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        if (g_pooled > 0) return ReaderPtr(std::exchange(g_pool[--g_pooled], nullptr));
        security = SharedSecurityManager();
    }
    ReaderPtr reader(XMLReaderFactory::createXMLReader());
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
    if (g_pooled < kMaxPooled) g_pool[g_pooled++] = reader.release();
}

void Drain() {
    std::lock_guard<std::mutex> lock(g_poolMutex);
    while (g_pooled > 0) ReaderPtr(std::exchange(g_pool[--g_pooled], nullptr));
    std::unique_ptr<SecurityManager>(std::exchange(g_security, nullptr));
}

}  // namespace xerces_reader_pool
