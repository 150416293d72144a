#include <limits>
#include <memory>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "halcyra/state.h"

using namespace xercesc;

namespace halcyra {

State::State() : nodes(1) {}

namespace {

// Second line of defence only: a DOCTYPE ends the parse before any entity is declared.
constexpr XMLSize_t kEntityExpansionLimit = 1000;

// Thrown from the handler to end a parse; Xerces-C lets it through.
struct Rejected {
    std::string_view error;
};

// Decimal digits, at least one; anything else makes the document invalid.
unsigned long Digits(std::u16string_view text) {
    if (text.empty()) throw Rejected{kErrorInvalid};
    unsigned long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') throw Rejected{kErrorInvalid};
        const unsigned digit = c - u'0';
        if (value > (std::numeric_limits<unsigned long>::max() - digit) / 10)
            throw Rejected{kErrorInvalid};
        value = value * 10 + digit;
    }
    return value;
}

// A decimal integer of 32 bits, optionally negative.
std::int32_t Int32(std::u16string_view text) {
    const bool negative = !text.empty() && text.front() == u'-';
    if (negative) text.remove_prefix(1);
    const unsigned long magnitude = Digits(text);
    if (magnitude > (negative ? 2147483648ul : 2147483647ul)) throw Rejected{kErrorInvalid};
    return static_cast<std::int32_t>(negative ? -static_cast<long>(magnitude)
                                              : static_cast<long>(magnitude));
}

// Where the parse stands: the open element's kind, and for organizations its node.
enum class Kind { kServer, kLog, kConfigurations, kOrganization, kLeaf };
struct Open {
    Kind kind;
    std::uint32_t node;
};

class StateBuilder : public DefaultHandler {
  public:
    explicit StateBuilder(State &state) : m_state(state) {}

    void startElement(const XMLCh *uri, const XMLCh *localname, const XMLCh *,
                      const Attributes &attrs) override {
        if (++m_elements > kMaxElements || m_open.size() >= kMaxDepth ||
            attrs.getLength() > kMaxAttributes)
            throw Rejected{kErrorLimit};
        for (XMLSize_t i = 0; i < attrs.getLength(); ++i) {
            if (XMLString::stringLen(attrs.getValue(i)) > kMaxTextLength)
                throw Rejected{kErrorLimit};
        }
        if (uri != nullptr && *uri != 0) throw Rejected{kErrorInvalid};
        const std::u16string_view name(localname);
        const Kind parent = m_open.empty() ? Kind::kLeaf : m_open.back().kind;
        if (m_open.empty() && name == u"NorloServer") {
            m_open.push_back({Kind::kServer, 0});
        } else if (parent == Kind::kServer && name == u"MessageLog" && !m_seenLog) {
            m_seenLog = true;
            m_open.push_back({Kind::kLog, 0});
        } else if (parent == Kind::kServer && name == u"UserConfigurations" &&
                   !m_seenConfigurations) {
            m_seenConfigurations = true;
            ForEach(attrs, [&](std::u16string_view key, std::u16string_view value) {
                if (key == u"default") m_state.defaultConfiguration = value;
            });
            m_open.push_back({Kind::kConfigurations, 0});
        } else if (parent == Kind::kServer && name == u"Organization" && !m_seenRoot) {
            m_seenRoot = true;
            ReadNode(m_state.nodes[0], attrs);
            m_open.push_back({Kind::kOrganization, 0});
        } else if (parent == Kind::kLog && name == u"Message") {
            AddMessage(attrs);
        } else if (parent == Kind::kConfigurations && name == u"Configuration") {
            AddConfiguration(attrs);
        } else if (parent == Kind::kOrganization && (name == u"Organization" || name == u"User")) {
            AddNode(name == u"User" ? orgUser : orgOrganization, attrs);
        } else {
            throw Rejected{kErrorInvalid};
        }
    }

    void endElement(const XMLCh *, const XMLCh *, const XMLCh *) override { m_open.pop_back(); }
    // Text between elements carries nothing and is not kept.
    void characters(const XMLCh *, XMLSize_t) override {}
    void startDTD(const XMLCh *, const XMLCh *, const XMLCh *) override {
        throw Rejected{kErrorInvalid};
    }
    void error(const SAXParseException &) override { throw Rejected{kErrorInvalid}; }
    void fatalError(const SAXParseException &) override { throw Rejected{kErrorInvalid}; }

  private:
    // Attributes in no namespace, by local name.
    template <class F>
    static void ForEach(const Attributes &attrs, F &&use) {
        for (XMLSize_t i = 0; i < attrs.getLength(); ++i) {
            const XMLCh *uri = attrs.getURI(i);
            if (uri == nullptr || *uri == 0)
                use(std::u16string_view(attrs.getLocalName(i)), attrs.getValue(i));
        }
    }

    void AddMessage(const Attributes &attrs) {
        Message &m = m_state.messages.emplace_back();
        ForEach(attrs, [&](std::u16string_view key, std::u16string_view value) {
            if (key == u"severity") {
                m.severity = Int32(value);
            } else if (key == u"date") {
                m.date = value;
            } else if (key == u"source") {
                m.source = value;
            } else if (key == u"description") {
                m.description = value;
            } else if (key == u"extension") {
                m.extension = value;
            }
        });
        m_open.push_back({Kind::kLeaf, 0});
    }

    void AddConfiguration(const Attributes &attrs) {
        Configuration &c = m_state.configurations.emplace_back();
        ForEach(attrs, [&](std::u16string_view key, std::u16string_view value) {
            if (key == u"name") {
                c.name = value;
            } else if (key == u"fileName") {
                c.fileName = value;
            } else if (key == u"backupSets") {
                c.backupSets = Int32(value);
                if (c.backupSets < 0) throw Rejected{kErrorInvalid};
                if (c.backupSets > kMaxBackupSets) throw Rejected{kErrorLimit};
            } else if (key == u"backupPackageSize") {
                c.packageSize = Int32(value);
            } else if (key == u"lowDiskSpaceLimit") {
                c.lowDiskSpaceLimit = Int32(value);
            }
        });
        m_state.configurationByName.try_emplace(c.name, m_state.configurations.size() - 1);
        m_open.push_back({Kind::kLeaf, 0});
    }

    void ReadNode(Node &node, const Attributes &attrs) {
        const bool user = node.type == orgUser;
        ForEach(attrs, [&](std::u16string_view key, std::u16string_view value) {
            if (key == u"name") {
                node.name = value;
            } else if (key == u"active") {
                node.active = Int32(value);
            } else if (key == u"protected") {
                node.isProtected = Int32(value);
            } else if (user && key == u"config") {
                node.config = value;
            } else if (user && key == u"lastLoginDate") {
                node.lastLoginDate = value;
            } else if (user && key == u"dataPath") {
                node.dataPath = value;
            } else if (user && key == u"storageSize") {
                node.storageSize = Digits(value);
            } else if (user && key == u"lastBackupDate") {
                node.lastBackupDate = value;
            }
        });
    }

    void AddNode(orgType type, const Attributes &attrs) {
        const std::uint32_t parent = m_open.back().node;
        // kMaxElements keeps node numbers far inside 32 bits.
        const auto index = static_cast<std::uint32_t>(m_state.nodes.size());
        Node &node = m_state.nodes.emplace_back();
        node.type = type;
        node.parent = parent;
        node.position = static_cast<std::uint32_t>(m_state.nodes[parent].children.size());
        ReadNode(node, attrs);
        m_state.nodes[parent].children.push_back(index);
        if (type == orgUser) m_state.userByName.try_emplace(node.name, index);
        m_open.push_back({type == orgUser ? Kind::kLeaf : Kind::kOrganization, index});
    }

    State &m_state;
    std::vector<Open> m_open;
    std::size_t m_elements = 0;
    bool m_seenLog = false, m_seenConfigurations = false, m_seenRoot = false;
};

struct ReaderDeleter {
    void operator()(SAX2XMLReader *reader) const { delete reader; }
};

}  // namespace

LoadResult ParseState(std::string_view document) {
    if (document.size() > kMaxStateBytes) return {nullptr, kErrorLimit};
    auto state = std::make_shared<State>();
    try {
        SecurityManager security;
        security.setEntityExpansionLimit(kEntityExpansionLimit);
        std::unique_ptr<SAX2XMLReader, ReaderDeleter> reader(XMLReaderFactory::createXMLReader());
        reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        reader->setFeature(XMLUni::fgXercesSchema, false);
        reader->setFeature(XMLUni::fgXercesLoadSchema, false);
        reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
        reader->setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
        reader->setProperty(XMLUni::fgXercesSecurityManager, &security);
        StateBuilder builder(*state);
        reader->setContentHandler(&builder);
        reader->setErrorHandler(&builder);
        reader->setLexicalHandler(&builder);
        MemBufInputSource source(reinterpret_cast<const XMLByte *>(document.data()),
                                 document.size(), "NORLO_SERVER_STATE", false);
        // State documents are UTF-8 whatever their declaration says.
        source.setEncoding(u"UTF-8");
        reader->parse(source);
    } catch (const Rejected &rejected) {
        return {nullptr, rejected.error};
    } catch (...) {
        // Xerces-C's own exceptions (a broken encoding, its out-of-memory) and bad_alloc.
        return {nullptr, kErrorInvalid};
    }
    return {std::move(state), {}};
}

}  // namespace halcyra
