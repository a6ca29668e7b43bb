// The fault-injection run of the agent; see ChaosRun.h.
//
//   pwagent_chaos [CHECKS] [--life N] [--faults N] [--base N] [--dovecot-user N]
//                                                               the run (default 40 checks of
//                                                               25 planned faults, 50 per agent,
//                                                               dovecot's users 4 and 5)
//   pwagent_chaos --seed S                                      one check's plan, alone
//   PW_CHAOS_TIMEOUT                                            seconds per network wait (2)
#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>

#include "ChaosRun.h"
#include "LongRun.h"
#include "SoakServers.h"

namespace {

constexpr int kLargest = 1000000;

pw::chaos::RunSettings ReadSettings(int argc, char** argv) {
    using pw::soak::Setting;
    pw::chaos::RunSettings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (argument == "--seed" || argument == "--life" || argument == "--faults" ||
            argument == "--base" || argument == "--dovecot-user") {
            if (value == nullptr)
                throw std::runtime_error(argument + " needs a number");
            ++i;
            const int number = Setting(value, argument.c_str(), 1, kLargest);
            if (argument == "--seed")
                settings.onlySeed = static_cast<uint32_t>(number);
            else if (argument == "--life")
                settings.life = number;
            else if (argument == "--faults")
                settings.faultsPerCheck = number;
            else if (argument == "--dovecot-user")
                settings.dovecotUser = number;
            else
                settings.base = static_cast<uint32_t>(number);
        } else {
            settings.checks = Setting(argv[i], "count of checks", settings.checks, kLargest);
        }
    }
    settings.timeOut = Setting(std::getenv("PW_CHAOS_TIMEOUT"), "time-out", settings.timeOut, 240);
    return settings;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == pw::soak::kServerHostArgument)
        return pw::soak::RunServerHost();
    try {
        pw::chaos::ChaosRun run(ReadSettings(argc, argv), pw::soak::ProgramPath());
        return run.Run();
    } catch (const std::exception& e) {
        std::cout << "fault-injection run failed: " << e.what() << std::endl;
        return 2;
    }
}
