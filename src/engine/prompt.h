#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A prompt as it is handed to the chat model: one string, plus which byte
// ranges of it are the fixed template. Only markers inside the template may
// become control tokens; text inserted from documents, history or the
// question reaches the model as plain text whatever it contains.
class Prompt {
public:
    struct Range {
        size_t begin;
        size_t end;
    };

    // Appends template text (chat markers are parsed as control tokens).
    Prompt &fixed(std::string_view s) {
        if (!s.empty()) {
            if (!template_ranges.empty() && template_ranges.back().end == whole.size())
                template_ranges.back().end += s.size();
            else
                template_ranges.push_back({whole.size(), whole.size() + s.size()});
            whole.append(s);
        }
        return *this;
    }
    // Appends inserted text (never parsed for control tokens).
    Prompt &text(std::string_view s) {
        whole.append(s);
        return *this;
    }

    const std::string &str() const { return whole; }
    // Template ranges in order, disjoint, none empty; adjacent ones are merged.
    const std::vector<Range> &fixed_ranges() const { return template_ranges; }

private:
    std::string whole;
    std::vector<Range> template_ranges;
};
