// Configured SAX2 readers, kept for reuse: creating one costs more than a small
// parse. Each reader allocates through memory of its own that keeps the large
// blocks a parse frees for its next parse: every parse makes an input reader
// of about 160 KiB, and taking that from the heap and giving it back each time
// makes a thread's heap grow and shrink, which costs far more than the parse
// when several threads parse at once. A reader is handed to one parse at a time; the pool is
// emptied before Xerces-C is terminated so that no reader outlives the library.
#pragma once

#include <memory>
#include <xercesc/sax2/SAX2XMLReader.hpp>

namespace xerces_reader_pool {

class KeptBlocks;

// Deletes the reader, then the memory it was made with.
struct ReaderDeleter {
    KeptBlocks *memory = nullptr;
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
