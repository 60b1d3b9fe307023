// Prompts without markers in their inserted text get the tokens of
// whole-string tokenization with special parsing (what the model saw before
// inserted text stopped being parsed for markers).

#include "engine/engine.h"
#include "engine/prompt_tokenizer.h"
#include "test_support.h"

namespace {

using namespace test_support;

// Inserted texts that stress the seams: spaces and newlines at both ends,
// accents, digits, quotes, empty texts and marker-like text that is no marker.
std::vector<Prompt> marker_free_prompts() {
    std::vector<Prompt> prompts;
    prompts.push_back(Engine::build_prompt(
        " Quando vence o 'contrato' 2031?\n",
        {{"C:\\docs\\contrato.txt", "  O contrato\n\nvence em março.  ", 2.5f, 0, 0},
         {"docs\\vazio.txt", "", 0.9f, 3, 0},
         {"x.txt", "<|not a marker|> <| end |> ações 1234 — fim\n", 0.5f, 1, 0}}));
    prompts.push_back(Engine::build_prompt("", {{"", "\n", 1.0f, 0, 0}}));
    prompts.push_back(Prompt().fixed("<|im_start|>system\n").text("olá mundo").fixed("<|im_end|>\n")
                          .fixed("<|im_start|>user\n").text("  ").fixed("<|im_end|>\n<|im_start|>assistant\n"));
    prompts.push_back(Prompt().text("abc ").fixed("<|user|>").text(" def\n").fixed("\n<|end|>").text("ghi"));
    return prompts;
}

TEST(PromptTokens, MarkerFreePromptsGetTheWholeStringTokens) {
    for (const char *model : {"chat-phi3", "chat-qwen2"}) {
        const ModelVocab vocab(model);
        const PromptTokenizer tokenizer(vocab.get());
        for (const Prompt &p : marker_free_prompts())
            EXPECT_EQ(tokenizer.tokenize(p, true), vocab.tokens(p.str(), true, true)) << model << ": " << p.str();
    }
}

} // namespace
