#include "request/xerces_int.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "base/trace_log.h"
#include "base/utf16.h"
#include "request/tsl_request.h"
#include "request/tsl_util.h"
#include "request/xerces_reader_pool.h"

using namespace xercesc;

namespace {

// Thrown from a handler to stop a parse: a DOCTYPE, or runaway nesting. Carries
// the position because the locator is no longer valid once the parse has unwound.
struct ParseRejected {
    int line;
    int column;
    const char *reason;
};

// The reader resolves namespaces by walking the open-element stack for every
// element, so nesting costs quadratic time: 10,000 levels take a few
// milliseconds, 65,536 seconds. Requests need a handful of levels.
constexpr int32_t kMaxDepth = 10000;
// The reader looks every element and prefixed attribute name up through the
// open elements and the namespace declarations in scope, one by one, so
// repeated deep nesting or many prefixes cost the product of the two. Both are
// counted as the elements come (a lookup takes about a nanosecond); past the
// bound the parse ends. One deep nest of 10,000 levels takes 50,000,000.
constexpr std::size_t kMaxNamespaceWork = 100000000;
constexpr std::size_t kMaxDeclarations = 1000;
// Each predicate adds to the grouping of the where-clause and to every record's
// filtering; real where-clauses hold a few dozen.
constexpr std::size_t kMaxPredicates = 20000;
constexpr std::size_t kLargestPooledText = std::size_t{1} << 20;
// The sponsor and portal fields are written again into every link and catalogue
// entry of the response; real ones are short names and URLs.
constexpr std::size_t kMaxEchoedField = 4096;
// Output columns name the table's columns; each is logged and compared with
// every column.
constexpr std::size_t kMaxOutputTargets = 10000;
// The reader builds all attributes of a start tag before it reports the
// element, at a few hundred bytes each, and copies a long value about eight
// times over (in UTF-16, through buffers that grow by doubling), so both are
// bounded in the text before the parse: attributes per tag, and bytes from one
// "<" to the next (which bounds every value and every run of text).
constexpr std::size_t kMaxAttributes = 10000;
constexpr std::size_t kMaxStretch = std::size_t{1} << 20;

struct Oversize {
    std::size_t at;  // the "<" (or the start of the text) before the stretch
    const char *reason;
};

// Attribute values cannot hold a "<", so the "=" signs between one "<" and the
// next bound the attributes of that tag from above.
std::optional<Oversize> FindOversize(std::string_view text) {
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t next = std::min(text.find('<', start + 1), text.size());
        if (next - start > kMaxStretch)
            return Oversize{start, "a value or text longer than 1048576 bytes"};
        const auto stretch = text.substr(start, next - start);
        if (static_cast<std::size_t>(std::count(stretch.begin(), stretch.end(), '=')) >
            kMaxAttributes)
            return Oversize{start, "a start tag with more than 10000 attributes"};
        start = next;
    }
    return std::nullopt;
}

// ASCII case-insensitive comparison of an element name with a lower-case name.
bool NameIs(const XMLCh *name, const char *lower) {
    if (name == nullptr) return false;
    for (; *lower != '\0'; ++name, ++lower) {
        XMLCh c = *name;
        if (c >= u'A' && c <= u'Z') c = static_cast<XMLCh>(c - u'A' + u'a');
        if (c != static_cast<unsigned char>(*lower)) return false;
    }
    return *name == 0;
}

bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Backslash escapes of attribute values: \\ \t \n \r; any other backslash stays.
std::string DecodeEscapes(std::string text) {
    if (text.find('\\') == std::string::npos) return text;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            const char decoded = next == '\\'  ? '\\'
                                 : next == 't' ? '\t'
                                 : next == 'n' ? '\n'
                                 : next == 'r' ? '\r'
                                               : '\0';
            if (decoded != '\0') {
                out.push_back(decoded);
                ++i;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// The value of an attribute looked up by its exact qualified name; "" if absent.
tslString Attr(const Attributes &attrs, const XMLCh *name) {
    const XMLCh *value = attrs.getValue(name);
    if (value == nullptr) return tslString();
    std::string text;
    AppendUtf8FromUtf16(text, value, Utf16Length(value));
    return tslString(DecodeEscapes(std::move(text)));
}

int32_t AttrNumber(const Attributes &attrs, const XMLCh *name) {
    return static_cast<int32_t>(std::atoi(Attr(attrs, name).c_str()));
}

const char16_t kSoapEncodingUri[] = u"http://schemas.xmlsoap.org/soap/encoding/";
const char16_t kSoapEnvelopeUri[] = u"http://schemas.xmlsoap.org/soap/envelope/";

bool SameUriIgnoreCase(const XMLCh *uri, const char16_t *expected) {
    if (uri == nullptr) return false;
    for (; *expected != 0; ++uri, ++expected) {
        auto lower = [](XMLCh c) {
            return c >= u'A' && c <= u'Z' ? static_cast<XMLCh>(c - u'A' + u'a') : c;
        };
        if (lower(*uri) != lower(*expected)) return false;
    }
    return *uri == 0;
}

}  // namespace

int32_t XercesInt::Parse(tslRequest &request) {
    m_request = &request;
    m_config = nullptr;
    const std::string &text = request.m_xmlrequest.str();
    if (const std::optional<Oversize> over = FindOversize(text)) {
        ++m_errors;
        if (!QuietErrors()) {
            const std::string_view before(text.data(), over->at);
            const std::size_t lineStart = before.rfind('\n');
            const auto line = 1 + std::count(before.begin(), before.end(), '\n');
            const std::size_t column =
                over->at - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
            TslLog(TSL_ERROR, "XercesInt::fatalError: line %d column %d message %s\n",
                   static_cast<int>(line), static_cast<int>(column), over->reason);
        }
        return 404;
    }
    return Run(text.data(), text.size(), "tslData m_xmlrequest", true);
}

int32_t XercesInt::Parse(const ConfigTarget &config, const std::string &text) {
    m_request = nullptr;
    m_config = &config;
    return Run(text.data(), text.size(), "Tessel m_configdata", false);
}

int32_t XercesInt::Run(const char *text, std::size_t length, const char *systemId,
                       bool requestMode) {
    const char *mode = requestMode ? "tsldata" : "tessel";
    xerces_reader_pool::ReaderPtr reader;
    if (requestMode) {
        try {
            reader = xerces_reader_pool::Acquire();
        } catch (...) {
            TslLog(TSL_ERROR, "XercesInt::Parse(tsldata): exception setting up parser\n");
            return 404;
        }
    } else {
        reader = xerces_reader_pool::Acquire();
    }
    reader->setContentHandler(this);
    reader->setErrorHandler(this);
    reader->setLexicalHandler(this);

    std::unique_ptr<MemBufInputSource> source;
    try {
        source = std::make_unique<MemBufInputSource>(reinterpret_cast<const XMLByte *>(text),
                                                     length, systemId, false);
    } catch (...) {
        if (requestMode) {
            TslLog(TSL_ERROR, "XercesInt::Parse(tsldata): exception setting up inputsource\n");
        } else {
            TslLog(TSL_ERROR, "XercesInt::Parse(tessel): Error creating a MemBufInputSource\n");
        }
        xerces_reader_pool::Release(std::move(reader));
        return 404;
    }

    bool failed = false;
    bool reusable = true;
    try {
        reader->parse(*source);
        if (reader->getErrorCount() > 0) failed = true;
    } catch (const ParseRejected &rejected) {
        ++m_errors;
        failed = true;
        reusable = false;
        if (!QuietErrors()) {
            TslLog(TSL_ERROR, "XercesInt::fatalError: line %d column %d message %s\n",
                   rejected.line, rejected.column, rejected.reason);
        }
    } catch (const XMLException &e) {
        failed = true;
        reusable = false;
        m_message = e.getMessage();
        TslLog(TSL_ERROR, "XercesInt::Parse(%s): An error occured during parsing [%s]\n", mode,
               m_message.c_str());
    } catch (...) {
        failed = true;
        reusable = false;
        TslLog(TSL_ERROR, "XercesInt::Parse(%s): Unknown error occured during parsing\n", mode);
    }
    m_locator = nullptr;
    // A reader keeps the buffers it grew; one that read a large text goes, so
    // the pool does not hold a request's worth of memory per thread.
    if (length > kLargestPooledText) reusable = false;
    if (reusable) xerces_reader_pool::Release(std::move(reader));
    return failed || m_errors != 0 ? 404 : 0;
}

void XercesInt::characters(const XMLCh *chars, XMLSize_t length) {
    m_text.append(chars, length);
}

void XercesInt::Reject(const char *reason) const {
    throw ParseRejected{m_locator ? static_cast<int>(m_locator->getLineNumber()) : 0,
                        m_locator ? static_cast<int>(m_locator->getColumnNumber()) : 0, reason};
}

void XercesInt::startDTD(const XMLCh *, const XMLCh *, const XMLCh *) {
    Reject("DOCTYPE declarations are not accepted");
}

void XercesInt::startElement(const XMLCh *uri, const XMLCh *localname, const XMLCh *,
                             const Attributes &attrs) {
    if (++m_depth > kMaxDepth) Reject("elements nested deeper than 10000 levels");
    CountNamespaceWork(attrs);
    if (m_request != nullptr) {
        StartRequestElement(uri, localname, attrs);
    } else if (m_config != nullptr) {
        StartConfigElement(localname, attrs);
    }
    m_text.clear();
}

void XercesInt::StartRequestElement(const XMLCh *uri, const XMLCh *localname,
                                    const Attributes &attrs) {
    tslRequest &req = *m_request;
    if (m_inOutput) {
        if (NameIs(localname, "all")) {
            req.m_outputKind = OUTPUT_ALL;
        } else if (NameIs(localname, "col")) {
            req.m_outputKind = OUTPUT_COLUMNLIST;
        } else if (NameIs(localname, "target")) {
            if (req.m_outputTargets.size() >= kMaxOutputTargets)
                Reject("more than 10000 output columns");
            req.m_outputTargets.push_back(Attr(attrs, u"name"));
        } else if (NameIs(localname, "norecords")) {
            req.m_outputKind = OUTPUT_NORECORDS;
        }
        return;
    }
    if (NameIs(localname, "envelope")) {
        if (SameUriIgnoreCase(uri, kSoapEncodingUri) || SameUriIgnoreCase(uri, kSoapEnvelopeUri)) {
            req.m_envelope = true;
        } else {
            TslLog(TSL_ERROR, "XercesInt: error: got envelope, but uri was [%s]\n",
                   tslString(uri).c_str());
        }
    } else if (NameIs(localname, "tesselrequest")) {
        req.m_portalVersion = Attr(attrs, u"version");
        req.m_credentials = Attr(attrs, u"credentials");
        req.m_transactionId = Attr(attrs, u"transactionid");
        req.m_signature = Attr(attrs, u"signature");
        req.m_certificate = Attr(attrs, u"certificate");
        CheckEchoed(req.m_portalVersion);
    } else if (NameIs(localname, "sponsor")) {
        req.m_sponsorVersion = Attr(attrs, u"version");
        CheckEchoed(req.m_sponsorVersion);
    } else if (NameIs(localname, "portal")) {
        req.m_portalLocation = Attr(attrs, u"location");
        CheckEchoed(req.m_portalLocation);
    } else if (NameIs(localname, "db")) {
        req.m_table = Attr(attrs, u"name");
    } else if (NameIs(localname, "output")) {
        m_inOutput = true;
    } else if (NameIs(localname, "admin")) {
        req.m_action = Attr(attrs, u"action") == "describe" ? ACTION_DESCRIBE : ACTION_NOACTION;
    } else if (NameIs(localname, "select")) {
        req.m_action = ACTION_SELECT;
    } else if (NameIs(localname, "where")) {
        m_pendingLogic = LOGIC_NOLOGIC;
        m_predicate.reset();
    } else if (NameIs(localname, "predicat")) {
        CountPredicate();
        m_predicate = std::make_unique<Predicate>();
        m_predicate->logic = m_pendingLogic;
        m_predicate->lparen = AttrNumber(attrs, u"lparen");
        m_predicate->rparen = AttrNumber(attrs, u"rparen");
    } else if (NameIs(localname, "logic")) {
        m_pendingLogic = Attr(attrs, u"oper") == "OR" ? LOGIC_OR : LOGIC_AND;
    } else if (NameIs(localname, "compare")) {
        if (m_predicate) m_predicate->oper = tslUtil::OperatorCode(Attr(attrs, u"oper").c_str());
    } else if (NameIs(localname, "target")) {
        if (m_predicate) m_predicate->target = Attr(attrs, u"name");
    } else if (NameIs(localname, "atom")) {
        if (m_predicate) m_predicate->atom = Attr(attrs, u"value");
    } else if (NameIs(localname, "filter")) {
        CountPredicate();
        req.m_predicates.emplace_back(Attr(attrs, u"logic") == "OR" ? LOGIC_OR : LOGIC_AND,
                                      AttrNumber(attrs, u"lparens"), Attr(attrs, u"col"),
                                      tslUtil::OperatorCode(Attr(attrs, u"oper").c_str()),
                                      Attr(attrs, u"val"), AttrNumber(attrs, u"rparens"));
    }
}

void XercesInt::CheckEchoed(const tslString &field) const {
    if (field.size() > kMaxEchoedField) Reject("a sponsor or portal field longer than 4096 bytes");
}

void XercesInt::startPrefixMapping(const XMLCh *, const XMLCh *) {
    if (++m_inScope > kMaxDeclarations) Reject("more than 1000 namespace declarations in scope");
}

void XercesInt::endPrefixMapping(const XMLCh *) {
    if (m_inScope > 0) --m_inScope;
}

void XercesInt::CountNamespaceWork(const Attributes &attrs) {
    std::size_t prefixed = 0;
    for (XMLSize_t i = 0; i < attrs.getLength(); ++i) {
        const XMLCh *name = attrs.getQName(i);
        if (name != nullptr && std::u16string_view(name).find(u':') != std::u16string_view::npos)
            ++prefixed;
    }
    m_namespaceWork += (1 + prefixed) * (static_cast<std::size_t>(m_depth) + m_inScope);
    if (m_namespaceWork > kMaxNamespaceWork)
        Reject("nesting and prefixes costing more than 100000000 namespace lookups");
}

void XercesInt::CountPredicate() {
    if (++m_predicateCount > kMaxPredicates) Reject("more than 20000 predicates");
}

void XercesInt::StartConfigElement(const XMLCh *localname, const Attributes &attrs) {
    if (NameIs(localname, "tessel") || NameIs(localname, "korvaneconfig")) return;
    ConfigEntry entry;
    entry.name = tslString(localname);
    TslLog(TSL_TRACE, "XercesInt::startElement: setting [%s] configpair name [%s] ...\n",
           m_config->tesselName, entry.name.c_str());
    for (XMLSize_t i = 0; i < attrs.getLength(); ++i) {
        ConfigEntry child;
        child.name = tslString(attrs.getLocalName(i));
        child.value = tslString(attrs.getValue(i));
        child.kind = ConfigEntry::kAttribute;
        TslLog(TSL_TRACE, "...child name %s value %s\n", child.name.c_str(), child.value.c_str());
        entry.children.push_back(std::move(child));
    }
    m_openEntries.push_back(std::move(entry));
}

void XercesInt::EndConfigElement(const XMLCh *localname) {
    if (NameIs(localname, "tessel") || NameIs(localname, "korvaneconfig")) return;
    if (m_openEntries.empty()) return;
    ConfigEntry entry = std::move(m_openEntries.back());
    m_openEntries.pop_back();
    entry.value = m_text;
    TslLog(TSL_TRACE, "...value %s\n", entry.value.c_str());
    if (EqualsIgnoreCaseAscii(entry.name.view(), "Raw") &&
        EqualsIgnoreCaseAscii(entry.value.view(), "true") && m_config->raw != nullptr) {
        *m_config->raw = true;
    }
    if (m_config->entries != nullptr) m_config->entries->push_back(std::move(entry));
}

void XercesInt::endElement(const XMLCh *, const XMLCh *localname, const XMLCh *) {
    --m_depth;
    if (m_config != nullptr) {
        EndConfigElement(localname);
        return;
    }
    if (m_request == nullptr) return;
    if (m_inOutput && NameIs(localname, "output")) {
        m_inOutput = false;
        return;
    }
    // Inside output only the start tags are narrowed; end tags act as anywhere.
    if (NameIs(localname, "sponsor")) {
        CheckEchoed(m_text);
        m_request->m_sponsorName = m_text;
    } else if (NameIs(localname, "predicat")) {
        if (m_predicate) {
            m_request->m_predicates.push_back(std::move(*m_predicate));
            m_predicate.reset();
        }
    }
}

bool XercesInt::QuietErrors() const {
    return m_request != nullptr && m_request->m_raw;
}

void XercesInt::warning(const SAXParseException &exc) {
    m_message = exc.getMessage();
    TslLog(TSL_WARNING, "XercesInt::warning: line %d column %d message %s\n",
           static_cast<int>(exc.getLineNumber()), static_cast<int>(exc.getColumnNumber()),
           m_message.c_str());
}

void XercesInt::error(const SAXParseException &exc) {
    ++m_errors;
    if (QuietErrors()) return;
    m_message = exc.getMessage();
    TslLog(TSL_ERROR, "XercesInt::error: line %d column %d message %s\n",
           static_cast<int>(exc.getLineNumber()), static_cast<int>(exc.getColumnNumber()),
           m_message.c_str());
}

void XercesInt::fatalError(const SAXParseException &exc) {
    ++m_errors;
    if (QuietErrors()) return;
    m_message = exc.getMessage();
    TslLog(TSL_ERROR, "XercesInt::fatalError: line %d column %d message %s\n",
           static_cast<int>(exc.getLineNumber()), static_cast<int>(exc.getColumnNumber()),
           m_message.c_str());
}
