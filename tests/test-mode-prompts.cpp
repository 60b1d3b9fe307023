// The prompts of the answering modes: the host's text in its place between the
// template pieces, and never inside the template ranges (only those may hold
// control tokens); and the turns of every prompt, the question's too. The rule
// texts themselves are the constants in prompts.h.

#include <regex>

#include "engine/prompts.h"
#include "test_support.h"

namespace {

const std::string kAnswerHead = "<|im_end|>\n<|im_start|>assistant\n";

// Bytes of the prompt outside its template ranges.
size_t inserted_bytes(const Prompt &p) {
    size_t fixed = 0;
    for (const Prompt::Range &r : p.fixed_ranges()) fixed += r.end - r.begin;
    return p.str().size() - fixed;
}

// The roles of a prompt's turns in order, as its template's markers open them
// (ChatML's "<|im_start|>role", Phi-3's "<|role|>"); what broke instead when a
// turn does not close with its own family's marker before the next opens.
std::string turns(const Prompt &p) {
    static const std::regex marker(R"(<\|(\w+)\|>(\w*))");
    std::string roles, closer;
    for (const Prompt::Range &r : p.fixed_ranges()) {
        const std::string part = p.str().substr(r.begin, r.end - r.begin);
        for (std::sregex_iterator m(part.begin(), part.end(), marker), end; m != end; ++m) {
            const std::string name = (*m)[1];
            if (name == "im_end" || name == "end") {
                if (name != closer) return roles + " <|" + name + "|> closes no turn";
                closer.clear();
                continue;
            }
            if (!closer.empty()) return roles + " <|" + name + "|> opens inside a turn";
            roles += (roles.empty() ? "" : " ") + (name == "im_start" ? (*m)[2].str() : name);
            closer = name == "im_start" ? "im_end" : "end";
        }
    }
    return closer.empty() ? roles + ", all closed" : roles;
}

TEST(ModePrompts, HostTextSitsBetweenTheTemplatePieces) {
    const std::string chat_system = prompts::kChatSystem, docs = "<|im_start|>user\n### DOCUMENTOS DE APOIO:\n";
    const Prompt chat = Engine::build_chat_prompt("U: oi<|im_end|>", "E o prazo?", "doc A");
    EXPECT_EQ(chat.str(), chat_system + "<|im_start|>user\n### HISTÓRICO DA CONVERSA:\nU: oi<|im_end|><|im_end|>\n" +
                              docs + "doc A\n\n### NOVA PERGUNTA:\nE o prazo?" + kAnswerHead);
    EXPECT_EQ(inserted_bytes(chat), 15u + 10u + 5u);
    // No history, no history turn.
    EXPECT_EQ(Engine::build_chat_prompt("", "q", "").str(),
              chat_system + docs + "\n\n### NOVA PERGUNTA:\nq" + kAnswerHead);

    const Prompt rewrite = Engine::build_rewrite_prompt("", "E o prazo?");
    EXPECT_EQ(rewrite.str(), prompts::kRewriteSystem + ("\n\nNOVA PERGUNTA: E o prazo?" + kAnswerHead));
    EXPECT_EQ(inserted_bytes(rewrite), 10u);

    const Prompt doc = Engine::build_document_prompt("[Página 1]: texto\n\n", "Qual?");
    EXPECT_EQ(doc.str(), prompts::kDocumentSystem + ("[Página 1]: texto\n\n\n\n### PERGUNTA:\nQual?" + kAnswerHead));
    EXPECT_EQ(inserted_bytes(doc), 20u + 5u);

    // The phrase the window's answer is judged by is the one the prompt asks for.
    const Prompt window = Engine::build_window_prompt("janela", "Qual?");
    EXPECT_EQ(window.str(),
              "<|im_start|>system\nResponda à pergunta de forma completa e detalhada usando o texto abaixo.\n"
              "Se não encontrar, diga '" + std::string(prompts::kWindowNotFound) + "'.<|im_end|>\n"
              "<|im_start|>user\nDOCUMENTO:\njanela\n\nPERGUNTA: Qual?<|im_end|>\n<|im_start|>assistant\nRESPOSTA: ");
    EXPECT_EQ(inserted_bytes(window), 6u + 5u);
}

// Each turn opens and closes in order, and the prompt ends inside the
// assistant's, which the model then writes.
TEST(ModePrompts, TurnsOpenAndCloseInOrderWithTheAssistantLast) {
    const std::vector<SearchResult> sources = {{"a.txt", "texto", 2.5f, 0, 0}};
    const std::pair<Prompt, const char *> cases[] = {
        {Engine::build_prompt("Qual?", sources), "system user assistant"},
        {Engine::build_chat_prompt("U: oi", "Qual?", "doc A"), "system user user assistant"},
        {Engine::build_chat_prompt("", "Qual?", ""), "system user assistant"},
        {Engine::build_rewrite_prompt("U: oi", "Qual?"), "system user assistant"},
        {Engine::build_document_prompt("[Página 1]: texto\n\n", "Qual?"), "system user assistant"},
        {Engine::build_window_prompt("janela", "Qual?"), "system user assistant"},
    };
    for (const auto &[prompt, roles] : cases) EXPECT_EQ(turns(prompt), roles) << prompt.str();
}

} // namespace
