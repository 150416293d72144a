// Configured SAX2 readers, kept for reuse: creating one costs more than a small
// parse. A reader is handed to one parse at a time; the pool is emptied before
// Xerces-C is terminated so that no reader outlives the library.
#pragma once

#include <memory>
#include <xercesc/sax2/SAX2XMLReader.hpp>

namespace xerces_reader_pool {

struct ReaderDeleter {
    void operator()(xercesc::SAX2XMLReader *reader) const;
};
using ReaderPtr = std::unique_ptr<xercesc::SAX2XMLReader, ReaderDeleter>;

// A reader with the plug-in's hardened settings: no validation, no schemas, no
// external DTD or entity loading, bounded entity expansion, namespaces on.
// May throw what Xerces-C throws.
ReaderPtr Acquire();
// Returns a reader after a parse that ended normally. Readers whose parse threw
// are simply dropped instead.
void Release(ReaderPtr reader);
// Destroys every pooled reader.
void Drain();

}  // namespace xerces_reader_pool
