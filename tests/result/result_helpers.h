// Shared helpers of the result-table tests: request records built from whole
// request texts, records offered straight to the filter, captured log lines,
// and a real XML reader for reading responses and links back.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "result/tsl_data.h"

// Reaches the filter directly (a friend of tslData).
struct FilterAccess {
    static bool Filter(tslData &data, const tslRecord &record) { return data.FilterRecord(record); }
};

namespace restest {

// A tesselrequest around `inner` (the select or admin part), bare or inside a
// SOAP envelope, with sponsor "Sponsor" version "2.0" and portal "here".
std::string BareRequest(const std::string &inner, const std::string &sponsor = "Sponsor");
std::string EnvelopedRequest(const std::string &inner, const std::string &sponsor = "Sponsor");
// `<select>` with the output part, table and where-clause given.
std::string Select(const std::string &table, const std::string &output = "<all/>",
                   const std::string &where = "");

// The request record as the invoke pipeline makes it; the parse must succeed.
std::unique_ptr<tslData> Parsed(const std::string &request, bool raw = false);

// The record of the given texts.
std::unique_ptr<tslRecord> Record(const std::vector<std::string> &values);

// Log lines (without prefixes) written while `action` ran.
std::vector<std::string> LogLines(const std::function<void()> &action);

// An element read back by the XML reader: its local name, attributes and the
// character content directly inside it.
struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;
};

struct XmlReading {
    bool wellFormed = false;
    std::string error;
    std::vector<Element> elements;  // in document order

    // Every element of that name, in order.
    std::vector<const Element *> All(const std::string &name) const;
};

// Reads a text with Xerces-C (namespaces on, no validation, no DTD).
XmlReading ReadXml(const std::string &text);

// The body behind the empty line of a raw-mode response.
std::string BodyOf(const std::string &rawResponse);

}  // namespace restest
