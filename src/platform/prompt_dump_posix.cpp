#include "platform/prompt_dump.h"

#include <fstream>

#include "platform/filesystem.h"

namespace platform {

void write_prompt_dump(PromptDump which, const std::string &data_dir, const std::string &prompt) noexcept {
    try {
        const char *name = which == PromptDump::document ? "prompt_dump.txt" : "prompt_chat_dump.txt";
        std::ofstream out(path_from_host(data_dir) / name);
        if (out) out << prompt;
    } catch (...) {
    }
}

} // namespace platform
