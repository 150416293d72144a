// The response text: the table (or error) response, the describe response,
// the SOAP envelope around either, and the HTTP header in raw mode.
//
// Every text that reaches the response, whether the method or the request
// supplied it, is written XML-escaped, so the response is well-formed whatever
// the request held.
#pragma once

#include <string>
#include <string_view>

#include "request/tsl_request.h"
#include "result/catalogue.h"
#include "result/response_bytes.h"
#include "result/result_table.h"

class ResponseWriter {
  public:
    // `envelope`: the request came in a SOAP envelope; `raw`: the HTTP header
    // goes in front.
    ResponseWriter(bool envelope, bool raw) : m_envelope(envelope), m_raw(raw) {}

    // The table response (or the error response) of `table`. Takes the
    // table's records and frees each as soon as it is written.
    ResponseBytes Table(ResultTable &table) const;
    // `before` followed by the describe response for `request` and
    // `description`.
    ResponseBytes Describe(std::string_view before, const tslRequest &request,
                           const Description &description) const;

  private:
    template <typename LayOut>
    ResponseBytes Compose(std::string_view before, const LayOut &layOut) const;

    bool m_envelope;
    bool m_raw;
};
