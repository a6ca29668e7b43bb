// Prints the stored (scrambled) form of a password as the client writes it into its files, so
// that the demo and tests can write accounts and dial-up files. The routine is its own inverse.
#include "core/Password.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pwscramble PASSWORD\n");
        return 2;
    }
    const std::string scrambled = pw::UnscramblePassword(argv[1]);
    std::fwrite(scrambled.data(), 1, scrambled.size(), stdout);
    return 0;
}
