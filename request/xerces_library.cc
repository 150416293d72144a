#include "request/xerces_library.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>

#include "request/tsl_string.h"
#include "request/xerces_reader_pool.h"

namespace xerces_library {

bool Initialize(std::string &error) {
    try {
        xercesc::XMLPlatformUtils::Initialize();
        return true;
    } catch (const xercesc::XMLException &e) {
        error = tslString(e.getMessage()).str();
    } catch (...) {
        error.clear();
    }
    return false;
}

void Terminate() {
    xerces_reader_pool::Drain();
    xercesc::XMLPlatformUtils::Terminate();
}

}  // namespace xerces_library
