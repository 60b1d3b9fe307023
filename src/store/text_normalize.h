#pragma once

#include <string>

// Prepares a question for the full-text search, byte by byte: drops '.', ','
// and '\'', turns other ASCII punctuation into a space, lowers ASCII letters
// and copies every byte >= 0x80 unchanged. Never longer than the input.
std::string normalize_text(const std::string &text);
