// The invoke pipeline: request record, parse, credential check, the
// application's "Run", response, hand-over to the host, execution record.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "base/trace_log.h"
#include "entry/event_record.h"
#include "entry/tessel.h"
#include "request/tsl_util.h"
#include "request/xerces_int.h"
#include "result/tsl_data.h"

namespace {

constexpr std::size_t kLargeAtom = 512;
constexpr std::size_t kMethodNameLimit = 1023;
// The log cuts every message at kTslMessageBytes anyway; a precision that large
// leaves the lines as they are and spares formatting a request of megabytes.
constexpr int kLoggedBytes = static_cast<int>(kTslMessageBytes);

bool IsPasswordTarget(const tslString &target) {
    return strcasecmp(target.c_str(), "password") == 0;
}

// Parenthesis counts up to this are written out one by one; a larger count
// (the request may say 2^31 - 1) is written once with its number, so the text
// stays within a few bytes per predicate.
constexpr int32_t kParensWrittenOut = 64;

void AppendParens(std::string &text, int32_t count, std::string_view one, const char *many) {
    if (count > kParensWrittenOut) {
        text += many;
        text += std::to_string(count);
        if (one.front() == '(') text += ' ';
        return;
    }
    for (int32_t i = 0; i < count; ++i) text += one;
}

// The where-clause as one line for the execution record; passwords masked,
// large values and large parenthesis counts summarised, long column names cut.
std::string FiltersText(const std::vector<Predicate> &predicates) {
    std::string text;
    for (const Predicate &p : predicates) {
        if (p.logic != LOGIC_NOLOGIC) {
            text += ' ';
            text += tslUtil::LogicName(p.logic);
            text += ' ';
        }
        AppendParens(text, p.lparen, "( ", "(x");
        text += '\'';
        text += p.target.view().substr(0, kMethodNameLimit);  // cut as the method name is
        text += "' ";
        text += tslUtil::OperatorName(p.oper);
        text += " '";
        if (IsPasswordTarget(p.target)) {
            text += "xxx";
        } else if (p.atom.size() >= kLargeAtom) {
            text += "Large value: " + std::to_string(p.atom.size()) + " bytes";
        } else {
            text += p.atom.view();
        }
        text += '\'';
        AppendParens(text, p.rparen, " )", " )x");
    }
    return text;
}

// Keeps the event and key traffic of the Varnix plug-in from producing events.
bool IsVarnixOwnTraffic(std::string_view tessel, std::string_view dispatch,
                        const tslString &method) {
    return tessel == "Varnix" && dispatch == "Dorvex" &&
           (method == std::string_view("EventSend") || method == std::string_view("GetPublicKey") ||
            method == std::string_view("SafDeliver"));
}

}  // namespace

int32_t Tessel::Invoke(const char *version, const char *tesselName, const char *dispatchName,
                       void *, const char *request, char **response, const char *optionalText,
                       const char *remoteAddress, void *requestData, uint32_t *length) {
    const std::time_t start = TslNow();
    // The names of this call, not those given at "initialize": a host may reach
    // one plug-in object under several names.
    const char *tessel = tesselName != nullptr ? tesselName : "";
    const char *dispatch = dispatchName != nullptr ? dispatchName : "";

    auto data = std::make_unique<tslData>(version != nullptr ? version : "", tessel, dispatch,
                                          request, optionalText, remoteAddress, requestData,
                                          length != nullptr ? *length : 0);
    data->m_raw = m_raw;

    try {
        if (data->ParseRequest() != 0 && !data->m_raw) {
            TslLog(TSL_ERROR,
                   "Tessel::Invoke: tessel [%s] dispatch [%s] error parsing xml [%.*s]\n", tessel,
                   dispatch, kLoggedBytes, data->GetRequest());
        }
    } catch (...) {
        TslLog(TSL_ERROR, "Tessel::Invoke: [%s->%s] exception parsing xml\n", tessel, dispatch);
    }

    if (!data->m_credentials.empty()) {
        // A rejected request gets no response and no execution record.
        const int32_t checked =
            tslSecurity::AuthenticateRequest(*data, m_trust, *this, tessel, dispatch);
        if (checked != 0) return checked;
    }

    if (!data->m_table.empty())
        TslLog(TSL_TRACE, "Tessel::Invoke: [%s->%s] method [%.*s]\n", tessel, dispatch,
               kLoggedBytes, data->m_table.c_str());

    int32_t result;
    try {
        result = RunMethod(*data);
    } catch (...) {
        TslLog(TSL_ERROR, "Tessel::Invoke: tessel [%s->%s] exception calling RunMethod\n", tessel,
               dispatch);
        return 400;
    }
    if (result != 0)
        TslLog(TSL_ERROR, "Tessel::Invoke: tessel [%s->%s] error %d calling RunMethod\n", tessel,
               dispatch, result);

    data->BuildResponse();

    // The response text's own block is handed over: it is already ended by a
    // zero and comes from malloc, as the "free" call expects.
    ResponseBytes text = data->TakeResponse();
    if (text.data() == nullptr) text = ResponseBytes::WithRoom(0);
    if (length != nullptr) *length = static_cast<uint32_t>(text.size());
    const std::size_t responseSize = text.size();
    *response = text.Release();

    const std::time_t end = TslNow();
    if (!data->m_table.empty() && !IsVarnixOwnTraffic(tessel, dispatch, data->m_table))
        SendExecutionRecord(*data, result, start, end, responseSize);
    return result;
}

void Tessel::SendExecutionRecord(tslData &request, int32_t result, std::time_t start,
                                 std::time_t end, std::size_t responseSize) {
    const std::string filters = FiltersText(request.m_predicates);
    std::string taxonomy = "Network Access.AppServer.Tessel";
    taxonomy += (result == 200 || result == 0) ? ".S" : ".F";
    taxonomy += ".I";

    const uint32_t status = result != 0 ? static_cast<uint32_t>(result)
                            : request.GetErrorCode() != 0
                                ? static_cast<uint32_t>(request.GetErrorCode())
                                : 200u;
    std::string_view method = request.m_table.view();
    if (method.size() > kMethodNameLimit) method = method.substr(0, kMethodNameLimit);

    EventRecord event(*m_event);
    event.Reset();
    if (!request.m_remoteAddress.empty()) {
        event.AddText("Remote Client", request.m_remoteAddress.view());
        event.AddText("c_ip", request.m_remoteAddress.view());
    }
    event.AddText("Taxonomy", taxonomy);
    event.AddNumber("cs_bytes", static_cast<uint32_t>(request.m_xmlrequest.size()));
    event.AddNumber("sc_bytes", static_cast<uint32_t>(responseSize));
    event.AddText("cs_method", "Morv");
    event.AddNumber("cs_status", status);
    event.AddText("Method", method);
    event.AddText("EventLog", "com.vkn.Morvium.Tessel");
    event.AddNumber("Return Code", static_cast<uint32_t>(result));
    event.AddNumber("Execution Time (seconds)", static_cast<uint32_t>(end - start));
    if (!filters.empty()) event.AddText("Filters", filters);
    if (!request.m_transactionId.empty())
        event.AddText("TransactionId", request.m_transactionId.view());
    event.Complete();
    // The host sees one delivery at a time.
    std::lock_guard<std::mutex> lock(m_eventMutex);
    SendEncodedEvent(event.EncodedText().c_str(), event.RequestText());
}
