#pragma once

// Small deterministic GGUF models for tests and the demo, on real tokenizers.
//
// Standard set (make_standard_set):
//   embed.gguf           bert, 384 dims, bag-of-words random projection, WordPiece (bge)
//   chat-phi3.gguf       llama on the Phi-3 vocabulary, replies kAnswerScript then EOS
//   chat-qwen2.gguf      qwen2 on the ChatML vocabulary, replies kAnswerScript then EOS
//   chat-phi3-loop.gguf  repeats kLoopScript without end
//   chat-phi3-eos.gguf   replies EOS at once
//   chat-qwen2-notfound.gguf  replies kNotFoundScript, the refusal of the raw-text mode
//   chat-qwen2-keywords.gguf  replies kKeywordsScript, a query rewrite
//   chat-phi3-end.gguf   replies kAnswerScript then "<|end|>", then starts over
//   chat-qwen2-imend.gguf replies kAnswerScript then "<|im_end|>", then starts over
//
// The answer is "Resposta: o contrato vence em março de 2031." rather than 2025: both
// tokenizers split numbers into digits and a repeated "2" cannot be scripted.
// Replies render through llama_token_to_piece exactly as the script, except that the
// SentencePiece (Phi-3) models put one space before the first word.

#include <ostream>
#include <string>

namespace model_gen {

extern const char *const kAnswerScript;
extern const char *const kLoopScript;
extern const char *const kNotFoundScript;
extern const char *const kKeywordsScript;

// Each returns true when it wrote the file, false when the file already held these bytes.
// Errors throw std::runtime_error with a message for the user.
bool make_embed_model(const std::string &vocab_path, const std::string &out_path);

struct ChatModelRecipe {
    std::string arch; // "llama" or "qwen2"
    std::string vocab_path;
    std::string out_path;
    std::string script;
    bool loop = false; // after the last script token, start over instead of EOS
    // A control token (e.g. "<|end|>") that follows the script instead of EOS;
    // should generation go on past it, the script starts over.
    std::string end_token = "";
};
bool make_chat_model(const ChatModelRecipe &recipe);

// Benchmark models of real shapes with random weights, never used by tests:
//   bench-embed-minilm.gguf  bert, MiniLM-L6 shape (6 x 384, feed-forward 1536), F16, bge vocabulary
//   bench-chat-qwen2.gguf    qwen2, Qwen2-0.5B shape (24 x 896, feed-forward 4864), Q8_0;
//                            its first sample is always the end-of-sequence token
bool make_bench_embed_model(const std::string &vocab_path, const std::string &out_path);
bool make_bench_chat_model(const std::string &vocab_path, const std::string &out_path);
void make_bench_set(const std::string &vocab_dir, const std::string &out_dir, std::ostream &log);

// Writes the standard set into out_dir (created if missing), one line per file to `log`.
void make_standard_set(const std::string &vocab_dir, const std::string &out_dir, std::ostream &log);

} // namespace model_gen
