// ventari-emulator: runs the local Ventari service until interrupted.

#include "service.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <string>

namespace {

void printHelp(const char* program)
{
    std::cout
        << "Usage: " << program << " [options]\n"
        << "Runs a local stand-in for the Ventari web service on 127.0.0.1 until interrupted\n"
        << "(Ctrl+C, SIGINT or SIGTERM).\n\n"
        << "Options:\n"
        << "  --port N            listen on port N (default: any free port)\n"
        << "  --generate SECONDS  post a new generated message every SECONDS seconds (default: off)\n"
        << "  --rate-limit N      requests allowed per client and window (default: 200)\n"
        << "  --window SECONDS    length of the rate-limit window in seconds (default: 3600)\n"
        << "  --print-settings    print the remote settings that point a host at this service,\n"
        << "                      one 'RemoteSettings/Ventari/<key>=<value>' per line, and keep serving\n"
        << "  --help              show this text and exit\n\n"
        << "Seeded accounts: alice, bob, carol, dave, zoe, ventari_ir. Tokens come from the\n"
        << "authorization page at <address>oauth/authorize.\n";
}

bool readNumber(const char* text, long low, long high, long& value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

} // namespace

int main(int argc, char** argv)
{
    Emulator::ServiceOptions options;
    long port = 0;
    bool printSettings = false;

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long number = 0;
        auto needNumber = [&](long low, long high) {
            if (!readNumber(value, low, high, number)) {
                std::cerr << argv[0] << ": " << option << " needs a number from " << low << " to " << high
                          << "\n";
                std::exit(2);
            }
            ++i;
        };
        if (option == "--help" || option == "-h") {
            printHelp(argv[0]);
            return 0;
        } else if (option == "--port") {
            needNumber(0, 65535);
            port = number;
        } else if (option == "--generate") {
            needNumber(1, 86400);
            options.generatorPeriodSeconds = static_cast<int>(number);
        } else if (option == "--rate-limit") {
            needNumber(0, 1000000000);
            options.rateLimit = static_cast<int>(number);
        } else if (option == "--window") {
            needNumber(1, 86400 * 366);
            options.rateWindowSeconds = static_cast<int>(number);
        } else if (option == "--print-settings") {
            printSettings = true;
        } else {
            std::cerr << argv[0] << ": unknown option " << option << " (see --help)\n";
            return 2;
        }
    }

    // Threads started from here on inherit the blocked signals; only sigwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Emulator::Service service(options);
    if (!service.start(static_cast<std::uint16_t>(port))) {
        std::cerr << argv[0] << ": cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }

    std::cout << "Ventari service emulator listening on " << service.baseUrl() << std::endl;
    if (printSettings) {
        for (const auto& setting : service.remoteSettings())
            std::cout << "RemoteSettings/Ventari/" << setting.first << "=" << setting.second << "\n";
        std::cout.flush();
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    std::cout << "Stopping on " << (received == SIGINT ? "SIGINT" : "SIGTERM") << std::endl;
    service.stop();
    return 0;
}
