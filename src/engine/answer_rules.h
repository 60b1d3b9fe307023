#pragma once

#include <string>

// How the raw-text and rewrite modes read the model's answer.

// A window answered when its answer does not hold the not-found phrase
// anywhere (byte-exact) and is longer than 5 bytes.
bool is_window_answer(const std::string &answer);

// What follows the first "Palavras-chave:" of the answer, untrimmed; the whole
// answer without the marker; the question for an answer under 2 bytes.
std::string rewritten_query(const std::string &answer, const std::string &question);
