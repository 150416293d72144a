// tslString: the text class for every text the plug-in keeps.
//
// A byte string (UTF-8) with value semantics that can also be built from the
// UTF-16 text the XML reader delivers, and that caches its escaped forms until
// the text changes. An empty tslString allocates nothing; a cache buffer is only
// made when its form is first asked for.
//
// Threading: like std::string. The escaped-form getters fill a cache, so two
// threads must not call them on the same object at once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class tslString {
  public:
    tslString() = default;
    tslString(const char *text) : m_text(text ? text : "") {}   // NOLINT: implicit by design
    tslString(std::string_view text) : m_text(text) {}          // NOLINT
    tslString(std::string &&text) : m_text(std::move(text)) {}  // NOLINT
    explicit tslString(const char16_t *utf16);

    tslString(const tslString &other) : m_text(other.m_text) {}
    tslString(tslString &&other) noexcept = default;
    tslString &operator=(const tslString &other);
    tslString &operator=(tslString &&other) noexcept;
    tslString &operator=(const char *text);
    tslString &operator=(std::string_view text);
    tslString &operator=(const std::string &text) { return *this = std::string_view(text); }
    tslString &operator=(std::string &&text) {
        m_text = std::move(text);
        Changed();
        return *this;
    }
    tslString &operator=(const char16_t *utf16);
    ~tslString() = default;

    tslString &append(const char *text);
    tslString &append(std::string_view text);
    tslString &append(const tslString &other) { return append(std::string_view(other.m_text)); }
    tslString &append(const char16_t *utf16, std::size_t units);
    tslString &operator+=(std::string_view text) { return append(text); }

    void clear();
    bool empty() const { return m_text.empty(); }
    std::size_t size() const { return m_text.size(); }
    const char *c_str() const { return m_text.c_str(); }
    const std::string &str() const { return m_text; }
    std::string_view view() const { return m_text; }

    // Byte-wise unsigned comparison: -1, 0 or 1; a prefix sorts first.
    int compare(const tslString &other) const { return compare(std::string_view(other.m_text)); }
    int compare(const char *text) const { return compare(std::string_view(text ? text : "")); }
    int compare(std::string_view text) const;
    bool operator==(const tslString &other) const { return m_text == other.m_text; }
    bool operator==(std::string_view text) const { return m_text == text; }
    bool operator==(const char *text) const { return m_text == std::string_view(text ? text : ""); }

    // Escaped forms, cached until the text changes. The pointer stays valid until
    // the text is changed or destroyed.
    const char *XmlEscaped() const;
    const char *UrlEncoded() const;
    const char *XmlEscapedEx() const;

  private:
    enum Form { kXml, kUrl, kXmlEx, kFormCount };
    const char *Derived(Form form) const;
    void Changed() { m_forms.reset(); }

    std::string m_text;
    // Null until a form is first asked for; dropped whenever the text changes,
    // which is how stale forms are recomputed.
    mutable std::unique_ptr<std::unique_ptr<std::string>[]> m_forms;
};
