#include "CommandLine.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

char USER_PIN[256];
CK_ULONG USER_PIN_LEN;
char* g_DataFile;

namespace {

void TakePin(const char* pin)
{
    std::memset(USER_PIN, 0, sizeof(USER_PIN));
    USER_PIN_LEN = 0;
    while (USER_PIN_LEN < sizeof(USER_PIN) && pin[USER_PIN_LEN] != '\0') {
        USER_PIN[USER_PIN_LEN] = pin[USER_PIN_LEN];
        ++USER_PIN_LEN;
    }
}

void TakeDataFile(const char* path)
{
    std::free(g_DataFile);
    g_DataFile = strdup(path);
}

} // namespace

void ParseCommandLine(int argc, char** argv)
{
    static const struct option long_options[] = {
        {"pin", required_argument, nullptr, 'p'},
        {"datafile", required_argument, nullptr, 'f'},
        {nullptr, 0, nullptr, 0},
    };

    optind = 0; // full restart of getopt's scan
    for (;;) {
        int index = 0;
        const int option = getopt_long(argc, argv, "p:f:", long_options, &index);
        if (option == -1)
            break;
        switch (option) {
        case 'f':
            std::printf("Data file option -f with value `%s'\n", optarg);
            TakeDataFile(optarg);
            break;
        case 'p':
            std::printf("PIN option -p with value `%s'\n", optarg);
            TakePin(optarg);
            break;
        default: // '?': getopt has complained on standard error; go on
            break;
        }
    }

    if (optind < argc) {
        std::printf("non-option ARGV-elements: ");
        while (optind < argc)
            std::printf("%s ", argv[optind++]);
        std::printf("\n");
    }
}
