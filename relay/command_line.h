// framepump's command line: --input PORT and --output PORT, taken in pairs.
#pragma once

constexpr int DEFAULT_INPUT_PORT = 8793;
constexpr int DEFAULT_OUTPUT_PORT = 8794;

// Sets both ports from the words after the program name, defaults first.
// Returns false for any word it does not take, a missing value or a port
// outside 1 to 65535; the caller then prints the usage line.
bool parse_command_line(int argc, char **argv, int *input_port, int *output_port);
