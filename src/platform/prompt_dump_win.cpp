#include "platform/prompt_dump.h"

#include <fstream>

namespace platform {

void write_prompt_dump(PromptDump which, const std::string &, const std::string &prompt) noexcept {
    try {
        // Text mode: each line feed is stored as CR LF.
        std::ofstream out(which == PromptDump::document ? "c:\\Apps\\Dovi\\Quenda\\prompt_dump.txt"
                                                        : "c:\\Apps\\Dovi\\Quenda\\prompt_chat_dump.txt");
        if (out) out << prompt;
    } catch (...) {
    }
}

} // namespace platform
