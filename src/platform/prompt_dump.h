#pragma once

#include <string>

namespace platform {

// The two files that show the latest full prompt of a mode, for inspection.
enum class PromptDump {
    document,  // answering from one indexed document
    chat,
};

// Replaces the dump file's content with prompt. Every failure is ignored and
// logged nowhere: the dump never changes an answer. On Linux the files are
// "prompt_dump.txt" and "prompt_chat_dump.txt" in data_dir; on Windows they
// are the product's fixed paths, whose folder is never created.
void write_prompt_dump(PromptDump which, const std::string &data_dir, const std::string &prompt) noexcept;

} // namespace platform
