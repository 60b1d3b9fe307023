#include "model_gen.h"

#include <filesystem>

namespace model_gen {

const char *const kAnswerScript = "Resposta: o contrato vence em março de 2031.";
const char *const kLoopScript = "lorem ipsum dolor sit amet";
const char *const kNotFoundScript = "Não encontrei essa informação no documento";
const char *const kKeywordsScript = "Palavras-chave: contrato aluguel";

void make_standard_set(const std::string &vocab_dir, const std::string &out_dir, std::ostream &log) {
    namespace fs = std::filesystem;
    fs::create_directories(out_dir);
    const fs::path vocab(vocab_dir), out(out_dir);
    const std::string bge = (vocab / "ggml-vocab-bert-bge.gguf").string();
    const std::string phi3 = (vocab / "ggml-vocab-phi-3.gguf").string();
    const std::string qwen2 = (vocab / "ggml-vocab-qwen2.gguf").string();

    auto report = [&](const fs::path &file, bool written) {
        log << (written ? "wrote     " : "unchanged ") << file.string() << "\n";
    };
    report(out / "embed.gguf", make_embed_model(bge, (out / "embed.gguf").string()));

    const ChatModelRecipe chats[] = {
        {"llama", phi3, (out / "chat-phi3.gguf").string(), kAnswerScript, false},
        {"qwen2", qwen2, (out / "chat-qwen2.gguf").string(), kAnswerScript, false},
        {"llama", phi3, (out / "chat-phi3-loop.gguf").string(), kLoopScript, true},
        {"llama", phi3, (out / "chat-phi3-eos.gguf").string(), "", false},
        {"qwen2", qwen2, (out / "chat-qwen2-notfound.gguf").string(), kNotFoundScript, false},
        {"qwen2", qwen2, (out / "chat-qwen2-keywords.gguf").string(), kKeywordsScript, false},
        {"llama", phi3, (out / "chat-phi3-end.gguf").string(), kAnswerScript, false, "<|end|>"},
        {"qwen2", qwen2, (out / "chat-qwen2-imend.gguf").string(), kAnswerScript, false, "<|im_end|>"},
    };
    for (const ChatModelRecipe &recipe : chats) report(recipe.out_path, make_chat_model(recipe));
}

} // namespace model_gen
