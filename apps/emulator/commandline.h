#pragma once

#include "service.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Emulator {

// What the arguments of ventari-emulator ask for.
struct CommandLine
{
    ServiceOptions options;
    std::uint16_t port = 0; // 0: any free port
    bool printSettings = false;
    bool help = false;
    std::string error; // why the arguments cannot be followed; empty when they can
};

// Reads the arguments that follow the program's name; stops at the first error or at --help.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);
std::string commandLineHelp(const std::string& program);
// Decimal seconds such as "0.2" or "5", at most three decimals and at most maxSeconds; none when
// the text is anything else (a sign, an exponent, blanks).
std::optional<std::chrono::milliseconds> readPeriod(const std::string& text, long maxSeconds);

} // namespace Emulator
