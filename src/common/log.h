#pragma once

#include <string>

// Each log line is written whole with one call, so lines from different
// threads never interleave. The text carries its own trailing "\n".
void log_stdout(const std::string &text);
void log_stderr(const std::string &text);
