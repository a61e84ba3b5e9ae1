#pragma once

#include <corvane/corvanesink.h>

#include <cstdio>
#include <cstdlib>

// A broken expectation ends the run the way a sanitizer finding does, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// What every harness runs in: a Qt application, Qt's warnings silenced, and a host sink that
// drops log records but keeps the failed checks the plugin reports, which no input may cause.
class FuzzEnvironment : public Corvane::Sink
{
public:
    static FuzzEnvironment& instance();

    void report(const Corvane::Report& report) override;
    void log(const Corvane::LogRecord&) override {}
    void counterChanged(const QString&, qint64) override {}

    // Aborts, naming the first, when anything was reported since the last call.
    void checkNoReports();

private:
    FuzzEnvironment();

    QList<Corvane::Report> m_reports;
};
