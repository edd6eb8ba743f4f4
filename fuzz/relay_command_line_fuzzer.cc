// framepump's command line from arbitrary words: whatever is accepted is an
// even run of --input/--output pairs with ports in range, the last one winning.

#include <cstdlib>
#include <cstring>

#include "fuzz/argv_words.h"
#include "fuzz/fuzz_check.h"
#include "relay/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ArgvWords line;
    split_words(data, size, "framepump", &line);
    const int argc = static_cast<int>(line.words.size());
    int input_port = -1, output_port = -1;
    if (!parse_command_line(argc, line.argv.data(), &input_port, &output_port)) return 0;

    if (argc % 2 == 0) fuzz_fail("an odd number of words accepted");
    int last_input = DEFAULT_INPUT_PORT, last_output = DEFAULT_OUTPUT_PORT;
    for (int i = 1; i < argc; i += 2) {
        const char *option = line.argv[i];
        const long value = strtol(line.argv[i + 1], nullptr, 10);
        if (strcmp(option, "--input") == 0) {
            last_input = static_cast<int>(value);
        } else if (strcmp(option, "--output") == 0) {
            last_output = static_cast<int>(value);
        } else {
            fuzz_fail("a word other than --input or --output accepted");
        }
    }
    if (input_port < 1 || input_port > 65535 || output_port < 1 || output_port > 65535)
        fuzz_fail("a port outside 1 to 65535 accepted");
    if (input_port != last_input || output_port != last_output)
        fuzz_fail("the last occurrence did not win");
    return 0;
}
