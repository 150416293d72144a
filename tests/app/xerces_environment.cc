// The tests read responses with Xerces-C themselves, independently of the
// plug-in's own (balanced) use of the library.
#include "support/xerces_environment.h"
