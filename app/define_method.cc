// "Define": the catalogue of published backup server methods.
#include <optional>
#include <string>

#include "app/norlo_tessel.h"
#include "base/trace_log.h"
#include "result/tsl_data.h"

namespace {

struct PublishedMethod {
    const char *name;
    const char *requiredField;
};

const PublishedMethod kPublished[] = {
    {"Norlo Server - Configuration", "XML=NLXConfigurations.xml"},
    {"Norlo Server - Organization Tree", "XML=NLXOrganization.xml"},
    {"Norlo Server - Users", "XML=NLXUsers.xml"},
    {"Norlo Server - Message Log", "XML=NLXMessageLog.xml"},
};

}  // namespace

int32_t NorloTessel::sDefine(tslData &request) {
    TslLog(TSL_TRACE, "NorloTessel::sDefine\n");
    request.SetTableInfo("Tessel Define", CurrentCtimeText().c_str());
    request.SetChartInfo(0, 0, 0, 0);
    request.SetError(0, nullptr, nullptr);
    request.SetFiltering(true);
    for (const char *column : {"Method", "XmlQuery", "Columns", "Filters"})
        request.AddColumn(column, TYPE_STRING);

    for (const PublishedMethod &method : kPublished) {
        const char *required[] = {method.requiredField, nullptr};
        const std::optional<std::string> entry = request.BuildAnyMethodTemplate(
            METHOD_TESSELDISPLAY, method.name, "11.1", true, "NorloTessel: Norlo Sponsor",
            "Monitor:Backup:Norlo:&host", required);
        const std::string query = request.BuildQuery(ACTION_SELECT, method.name, nullptr);
        if (entry) request.AddRecord(entry->c_str(), query.c_str(), nullptr);
    }
    return 0;
}
