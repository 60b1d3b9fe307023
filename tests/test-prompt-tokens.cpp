// Prompts without markers in their inserted text get the tokens of
// whole-string tokenization with special parsing (what the model saw before
// inserted text stopped being parsed for markers).

#include "engine/prompt_tokenizer.h"
#include "test_support.h"

namespace {

using namespace test_support;

TEST(PromptTokens, MarkerFreePromptsGetTheWholeStringTokens) {
    // Inserted texts that stress the seams: spaces and newlines at both ends,
    // accents, digits, quotes, empty texts and marker-like text that is no marker.
    const Prompt prompts[] = {
        Engine::build_prompt(" Quando vence o 'contrato' 2031?\n",
                             {{"C:\\docs\\contrato.txt", "  O contrato\n\nvence em março.  ", 2.5f, 0, 0},
                              {"docs\\vazio.txt", "", 0.9f, 3, 0},
                              {"x.txt", "<|not a marker|> <| end |> ações 1234 — fim\n", 0.5f, 1, 0}}),
        Prompt().fixed("<|im_start|>system\n").text("olá mundo").fixed("<|im_end|>\n<|im_start|>user\n").text("  "),
        Prompt().text("abc ").fixed("<|user|>").text(" def\n").fixed("\n<|end|>").text("ghi"),
    };
    for (const char *model : {"chat-phi3", "chat-qwen2"}) {
        const ModelVocab vocab(model);
        const PromptTokenizer tokenizer(vocab.get());
        for (const Prompt &p : prompts)
            EXPECT_EQ(tokenizer.tokenize(p, true), vocab.tokens(p.str(), true, true)) << model << ": " << p.str();
    }
}

} // namespace
