#include "ventarilogging.h"

#include "common/reports.h"

namespace Ventari {
namespace {

struct Registration
{
    Registration()
    {
        Corvane::IServiceApi* api = OrvaneServiceApi();
        authorization = api->registerLogCategory(L"Ventari.Authorization", 0);
        requestPool = api->registerLogCategory(L"Ventari.RequestPool", 0);
        const std::wstring counter =
            Common::Reports::counterName(QStringLiteral("Feature"), QStringLiteral("Ventari_TryShareAnIdea")).toStdWString();
        share = api->openCounter(counter.c_str());
        api->setupCounter(share, 0);
    }

    Corvane::CategoryHandle authorization = 0;
    Corvane::CategoryHandle requestPool = 0;
    Corvane::CounterHandle share = 0;
};

const Registration registration;

} // namespace

Corvane::CategoryHandle Log::authorization() { return registration.authorization; }
Corvane::CategoryHandle Log::requestPool() { return registration.requestPool; }
Corvane::CounterHandle shareCounter() { return registration.share; }

} // namespace Ventari
