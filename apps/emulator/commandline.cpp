#include "commandline.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace Emulator {

namespace {

bool readNumber(const std::string& text, long low, long high, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

bool allDigits(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

} // namespace

std::optional<std::chrono::milliseconds> readPeriod(const std::string& text, long maxSeconds)
{
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || !allDigits(whole) || !allDigits(fraction) || fraction.size() > 3 ||
        whole.size() > 9)
        return std::nullopt;
    fraction.resize(3, '0');
    const long long milliseconds = (whole.empty() ? 0 : std::stoll(whole)) * 1000 + std::stoll(fraction);
    if (milliseconds > static_cast<long long>(maxSeconds) * 1000)
        return std::nullopt;
    return std::chrono::milliseconds(milliseconds);
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine command;
    for (std::size_t i = 0; i < arguments.size() && !command.help && command.error.empty(); ++i) {
        const std::string& option = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        const std::string value = hasValue ? arguments[i + 1] : std::string();
        long number = 0;
        auto needNumber = [&](long low, long high) {
            if (!readNumber(value, low, high, number)) {
                command.error = option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high);
                return false;
            }
            ++i;
            return true;
        };
        if (option == "--help" || option == "-h") {
            command.help = true;
        } else if (option == "--port") {
            if (needNumber(0, 65535))
                command.port = static_cast<std::uint16_t>(number);
        } else if (option == "--generate") {
            const auto period = readPeriod(value, 86400);
            if (!period) {
                command.error = "--generate needs seconds from 0 (off) to 86400 with at most three decimals, such "
                                "as 0.2" + (hasValue ? ", not \"" + value + "\"" : std::string());
            } else {
                command.options.generatorPeriod = *period;
                ++i;
            }
        } else if (option == "--rate-limit") {
            if (needNumber(0, 1000000000))
                command.options.rateLimit = static_cast<int>(number);
        } else if (option == "--window") {
            if (needNumber(1, 86400 * 366))
                command.options.rateWindowSeconds = static_cast<int>(number);
        } else if (option == "--print-settings") {
            command.printSettings = true;
        } else {
            command.error = "unknown option " + option + " (see --help)";
        }
    }
    return command;
}

std::string commandLineHelp(const std::string& program)
{
    return "Usage: " + program + " [options]\n"
           "Runs a local stand-in for the Ventari web service on 127.0.0.1 until interrupted\n"
           "(Ctrl+C, SIGINT or SIGTERM).\n\n"
           "Options:\n"
           "  --port N            listen on port N (default: any free port)\n"
           "  --generate SECONDS  post a new generated message every SECONDS seconds, fractions\n"
           "                      down to 0.001 allowed (0.2: five a second); a few symbols and\n"
           "                      users get most of them, as on the live service (default: 0, off)\n"
           "  --rate-limit N      requests allowed per client and window (default: 200)\n"
           "  --window SECONDS    length of the rate-limit window in seconds (default: 3600)\n"
           "  --print-settings    print the remote settings that point a host at this service,\n"
           "                      one 'RemoteSettings/Ventari/<key>=<value>' per line, and keep serving\n"
           "  --help              show this text and exit\n\n"
           "Seeded accounts: alice, bob, carol, dave, zoe, ventari_ir. Tokens come from the\n"
           "authorization page at <address>oauth/authorize.\n";
}

} // namespace Emulator
