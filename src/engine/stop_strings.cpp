#include "engine/stop_strings.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// Order matters: the earliest entry that occurs decides the cut.
constexpr std::array<std::string_view, 9> kStopStrings = {
    "<|end|>", "<|assistant|>", "<|user|>", "```json", "###",
    "Question:", "Pergunta:", "USU\xC3\x81RIO:", "DOCUMENTO:",
};

} // namespace

size_t find_stop_cut(const std::string &answer, size_t previous_size) {
    for (std::string_view stop : kStopStrings) {
        // The text before previous_size was clean, so an occurrence must end
        // in the new bytes; start where such a one could begin.
        const size_t from = previous_size >= stop.size() - 1 ? previous_size - (stop.size() - 1) : 0;
        const size_t at = std::string_view(answer).find(stop, from);
        if (at != std::string_view::npos) return at;
    }
    return std::string::npos;
}
