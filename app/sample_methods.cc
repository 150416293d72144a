// The two fixed sample tables: "Sample Age", whose name links exercise every
// filter operator on "Sample Age Detail".
#include <memory>
#include <string>
#include <vector>

#include "app/norlo_tessel.h"
#include "base/trace_log.h"
#include "result/tsl_data.h"

namespace {

using PredicateList = std::vector<std::unique_ptr<Predicate>>;

std::string LinkTo(const tslData &request, const char *table, const PredicateList &predicates) {
    switch (predicates.size()) {
        case 0:
            return request.BuildLink(table, nullptr);
        case 1:
            return request.BuildLink(table, predicates[0].get(), nullptr);
        default:
            return request.BuildLink(table, predicates[0].get(), predicates[1].get(),
                                     predicates[2].get(), nullptr);
    }
}

PredicateList One(const char *target, int32_t oper, const char *atom) {
    PredicateList list;
    list.push_back(tslData::NewPredicate(LOGIC_NOLOGIC, target, oper, atom));
    return list;
}

constexpr const char *kDetail = "Sample Age Detail";

}  // namespace

int32_t NorloTessel::sAge(tslData &request) {
    TslLog(TSL_TRACE, "NorloTessel::sAge\n");
    request.SetTableInfo("Sample Age", CurrentCtimeText().c_str());
    request.SetChartInfo(1, 2, 0, 0);
    request.SetError(0, nullptr, nullptr);
    request.SetFiltering(true);
    request.AddColumn("Name", TYPE_STRING);
    request.AddColumn("Age", TYPE_UINT32);

    // Row 1 is built value by value.
    {
        const std::string link = LinkTo(request, kDetail, One("Name", OPER_EQUAL, "Dalkah"));
        std::unique_ptr<tslRecord> record = request.NewRecord();
        request.SetRecordValue(*record, "Age", "2001", nullptr);
        request.SetRecordValue(*record, "Name", "Dalkah", link.c_str());
        request.AppendRecord(std::move(record));
    }
    auto linked = [&](const char *name, const char *age, const PredicateList &predicates) {
        const std::string link = LinkTo(request, kDetail, predicates);
        request.AddLinkRecord(name, link.c_str(), age, nullptr, nullptr);
    };
    linked("Delmor", "35", One("Name", OPER_EQUAL, "Delmor"));
    linked("QRT", "92", One("Name", OPER_EQUAL, "QRT"));
    request.AddRecord("Volvo", "3", nullptr);
    request.AddRecord("USA", "212", nullptr);
    request.AddRecord("<XML>&<safe's>\"test\"", "5", nullptr);
    request.AddRecord("<XML>&<safe>", "5", nullptr);
    linked("Name unique", "0", One("Name", OPER_UNIQUE, "n/a"));
    linked("Name withinset Delmor,QRT", "0", One("Name", OPER_WITHINSET, "Delmor,QRT"));
    linked("Age withinset 1-10,35,2001", "0", One("Age", OPER_WITHINSET, "1-10,35,2001"));
    linked("Age notinset 1-10,35,2001", "0", One("Age", OPER_NOTINSET, "1-10,35,2001"));
    linked("notlike D*", "0", One("Name", OPER_NOTLIKE, "D*"));
    linked("like D*", "0", One("Name", OPER_LIKE, "D*"));
    linked("like QRT", "0", One("Name", OPER_LIKE, "QRT"));
    linked("like *e*", "0", One("Name", OPER_LIKE, "*e*"));
    linked("like *h", "0", One("Name", OPER_LIKE, "*h"));
    {
        // The label says 1000 while the last atom is 100: both are as published.
        PredicateList grouped;
        grouped.push_back(tslData::NewPredicate(LOGIC_NOLOGIC, 1, "Name", OPER_LIKE, "D*", 1));
        grouped.push_back(tslData::NewPredicate(LOGIC_AND, 1, "Age", OPER_GREATER, "10", 0));
        grouped.push_back(tslData::NewPredicate(LOGIC_AND, 0, "Age", OPER_LESS, "100", 1));
        linked("like D* && (10 > Age < 1000)", "0", grouped);
    }
    linked("Everybody", "342", PredicateList{});
    return 0;
}

int32_t NorloTessel::sAgeDetail(tslData &request) {
    TslLog(TSL_TRACE, "NorloTessel::sAgeDetail\n");
    request.SetTableInfo(kDetail, CurrentCtimeText().c_str());
    request.SetChartInfo(1, 4, 0, 0);
    request.SetError(0, nullptr, nullptr);
    request.SetFiltering(true);
    request.AddColumn("Name", TYPE_STRING);
    request.AddColumn("FirstName", TYPE_STRING);
    request.AddColumn("LastName", TYPE_STRING);
    request.AddColumn("Age", TYPE_UINT32);

    std::unique_ptr<tslRecord> record = request.NewRecord();
    request.SetRecordValue(*record, "FirstName", "Tamsor", nullptr);
    request.SetRecordValue(*record, "Age", "2001", nullptr);
    request.SetRecordValue(*record, "Name", "Dalkah", nullptr);
    request.SetRecordValue(*record, "LastName", "Quellin", nullptr);
    request.AppendRecord(std::move(record));

    request.AddRecord("Delmor", "Delmor", "Farrowby", "35", nullptr);
    request.AddRecord("QRT", "Kestrin", "Vollum", "92", nullptr);
    request.AddRecord("Volvo", "Volvo", "S80", "3", nullptr);
    request.AddRecord("USA", "United", "States", "212", nullptr);
    request.AddRecord("Everybody", "Every", "Body", "342", nullptr);
    request.AddRecord("Everybody", "Every", "Body - 2", "342", nullptr);
    return 0;
}
