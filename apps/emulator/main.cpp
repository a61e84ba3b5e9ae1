// ventari-emulator: runs the local Ventari service until interrupted.

#include "commandline.h"
#include "service.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const Emulator::CommandLine command = Emulator::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (command.help) {
        std::cout << Emulator::commandLineHelp(argv[0]);
        return 0;
    }
    if (!command.error.empty()) {
        std::cerr << argv[0] << ": " << command.error << "\n";
        return 2;
    }

    // Threads started from here on inherit the blocked signals; only sigwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Emulator::Service service(command.options);
    if (!service.start(command.port)) {
        std::cerr << argv[0] << ": cannot listen on 127.0.0.1:" << command.port << "\n";
        return 1;
    }

    std::cout << "Ventari service emulator listening on " << service.baseUrl() << std::endl;
    if (command.printSettings) {
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
