// Turns fuzz bytes into a command line: words split at NUL bytes, behind a
// program name, as the kernel hands them to main.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ArgvWords {
    std::vector<std::string> words;
    std::vector<char *> argv;
};

inline void split_words(const uint8_t *data, size_t size, const char *program,
                        ArgvWords *out) {
    out->words.assign(1, program);
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            out->words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (size > 0) out->words.push_back(word);
    out->argv.clear();
    for (std::string &w : out->words) out->argv.push_back(&w[0]);
    out->argv.push_back(nullptr);
}
