#pragma once

#include "hostglobal.h"

#include <QtCore/QtGlobal>

// The host's service library: reports of failed checks, log records and usage counters.
namespace Corvane {

using CategoryHandle = quintptr; // 0 is the null category
using CounterHandle = qint64;

// The host's service object; the plugin asks OrvaneServiceApi() for it on every use.
class HOST_EXPORT IServiceApi
{
public:
    virtual void reportAssertion(const wchar_t* file, int line, const wchar_t* function,
                                 const void* object, const wchar_t* expression) = 0;
    virtual void reportVerification(const wchar_t* file, int line, const wchar_t* function,
                                    const void* object, const wchar_t* expression) = 0;
    virtual void writeLog(CategoryHandle category, int level, const wchar_t* file, int line,
                          const wchar_t* function, const void* object, const char16_t* message) = 0;
    virtual CategoryHandle registerLogCategory(const wchar_t* name, int reserved) = 0;
    // Negative: the category is off; otherwise the low three bits are the lowest level written.
    virtual qint8 logThreshold(CategoryHandle category) = 0;
    virtual CounterHandle openCounter(const wchar_t* name) = 0;
    virtual void setupCounter(CounterHandle counter, qint32 value) = 0;
    virtual void addToCounter(CounterHandle counter, qint64 amount) = 0;

protected:
    ~IServiceApi() = default;
};

} // namespace Corvane

extern "C++" HOST_EXPORT Corvane::IServiceApi* OrvaneServiceApi();
