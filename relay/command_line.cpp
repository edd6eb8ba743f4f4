#include "relay/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

static bool parse_port(const char *word, int *port) {
    errno = 0;
    char *end = nullptr;
    long value = strtol(word, &end, 10);
    if (errno != 0 || end == word || *end != '\0' || value < 1 || value > 65535)
        return false;
    *port = static_cast<int>(value);
    return true;
}

bool parse_command_line(int argc, char **argv, int *input_port, int *output_port) {
    *input_port = DEFAULT_INPUT_PORT;
    *output_port = DEFAULT_OUTPUT_PORT;
    for (int i = 1; i < argc; i += 2) {
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = false;
        if (strcmp(argv[i], "--input") == 0)
            ok = value && parse_port(value, input_port);
        else if (strcmp(argv[i], "--output") == 0)
            ok = value && parse_port(value, output_port);
        if (!ok) return false;
    }
    return true;
}
