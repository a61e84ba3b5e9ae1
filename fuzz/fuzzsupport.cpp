#include "fuzzsupport.h"

#include <QtCore/QCoreApplication>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

FuzzEnvironment& FuzzEnvironment::instance()
{
    static FuzzEnvironment environment;
    return environment;
}

FuzzEnvironment::FuzzEnvironment()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    qInstallMessageHandler(dropMessage);
    Corvane::setSink(this);
}

void FuzzEnvironment::report(const Corvane::Report& report)
{
    m_reports.append(report);
}

void FuzzEnvironment::checkNoReports()
{
    if (m_reports.isEmpty())
        return;
    const Corvane::Report& first = m_reports.first();
    std::fprintf(stderr, "Reported: %s in %s (%s:%d)\n", qPrintable(first.expression), qPrintable(first.function),
                 qPrintable(first.file), first.line);
    std::abort();
}
