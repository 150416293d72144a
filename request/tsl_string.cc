#include "request/tsl_string.h"

#include <cstring>

#include "base/escaping.h"
#include "base/utf16.h"

tslString::tslString(const char16_t *utf16) {
    if (utf16 != nullptr) AppendUtf8FromUtf16(m_text, utf16, Utf16Length(utf16));
}

tslString &tslString::operator=(const tslString &other) {
    if (this != &other) {
        m_text = other.m_text;
        Changed();
    }
    return *this;
}

tslString &tslString::operator=(tslString &&other) noexcept {
    if (this != &other) {
        m_text = std::move(other.m_text);
        m_forms = std::move(other.m_forms);
    }
    return *this;
}

tslString &tslString::operator=(const char *text) {
    return *this = std::string_view(text ? text : "");
}

tslString &tslString::operator=(std::string_view text) {
    m_text.assign(text.data(), text.size());
    Changed();
    return *this;
}

tslString &tslString::operator=(const char16_t *utf16) {
    m_text.clear();
    if (utf16 != nullptr) AppendUtf8FromUtf16(m_text, utf16, Utf16Length(utf16));
    Changed();
    return *this;
}

tslString &tslString::append(const char *text) {
    return append(std::string_view(text ? text : ""));
}

tslString &tslString::append(std::string_view text) {
    m_text.append(text.data(), text.size());
    Changed();
    return *this;
}

tslString &tslString::append(const char16_t *utf16, std::size_t units) {
    if (utf16 != nullptr) AppendUtf8FromUtf16(m_text, utf16, units);
    Changed();
    return *this;
}

void tslString::clear() {
    m_text.clear();
    std::string().swap(m_text);
    Changed();
}

int tslString::compare(std::string_view text) const {
    const std::size_t n = std::min(m_text.size(), text.size());
    const int c = n == 0 ? 0 : std::memcmp(m_text.data(), text.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
    if (m_text.size() == text.size()) return 0;
    return m_text.size() < text.size() ? -1 : 1;
}

const char *tslString::Derived(Form form) const {
    if (!m_forms) m_forms = std::make_unique<std::unique_ptr<std::string>[]>(kFormCount);
    std::unique_ptr<std::string> &slot = m_forms[form];
    if (!slot) {
        slot = std::make_unique<std::string>();
        switch (form) {
            case kXml:
                AppendXmlEscaped(*slot, m_text);
                break;
            case kUrl:
                AppendUrlEncoded(*slot, m_text);
                break;
            case kXmlEx:
                AppendXmlEscapedEx(*slot, m_text);
                break;
            case kFormCount:
                break;
        }
    }
    return slot->c_str();
}

const char *tslString::XmlEscaped() const {
    return Derived(kXml);
}
const char *tslString::UrlEncoded() const {
    return Derived(kUrl);
}
const char *tslString::XmlEscapedEx() const {
    return Derived(kXmlEx);
}
