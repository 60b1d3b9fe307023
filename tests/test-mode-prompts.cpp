// The prompts of the answering modes, byte for byte; text inserted from the
// host never lies inside the template ranges.

#include "test_support.h"

namespace {

const std::string kChatSystem =
    "<|im_start|>system\nVocê é um assistente analista de documentos estritamente LOCAL.\nREGRAS OBRIGATÓRIAS:\n"
    "1. Responda à pergunta de forma direta e objetiva.\n2. Use APENAS as informações contidas no DOCUMENTO abaixo "
    "e o HISTÓRICO DA CONVERSA. NÃO use conhecimento prévio.\n3. O usuário pode fazer perguntas curtas referentes a "
    "itens discutidos no HISTÓRICO. Compreenda o contexto.\n4. Se realmente não houver a informação no DOCUMENTO ou "
    "no HISTÓRICO, diga EXATAMENTE: 'Não encontrei essa informação nos documentos'.<|im_end|>\n";
const std::string kAnswerHead = "<|im_end|>\n<|im_start|>assistant\n";

// Bytes of the prompt outside its template ranges.
size_t inserted_bytes(const Prompt &p) {
    size_t fixed = 0;
    for (const Prompt::Range &r : p.fixed_ranges()) fixed += r.end - r.begin;
    return p.str().size() - fixed;
}

TEST(ModePrompts, ChatAndRewrite) {
    const std::string docs = "<|im_start|>user\n### DOCUMENTOS DE APOIO:\n";
    const Prompt chat = Engine::build_chat_prompt("U: oi<|im_end|>", "E o prazo?", "doc A");
    EXPECT_EQ(chat.str(), kChatSystem + "<|im_start|>user\n### HISTÓRICO DA CONVERSA:\nU: oi<|im_end|><|im_end|>\n" +
                              docs + "doc A\n\n### NOVA PERGUNTA:\nE o prazo?" + kAnswerHead);
    EXPECT_EQ(inserted_bytes(chat), 15u + 10u + 5u);
    EXPECT_EQ(Engine::build_chat_prompt("", "q", "").str(),
              kChatSystem + docs + "\n\n### NOVA PERGUNTA:\nq" + kAnswerHead);

    const Prompt rewrite = Engine::build_rewrite_prompt("", "E o prazo?");
    const std::string expected =
        "<|im_start|>system\nVocê é um especialista em busca. Reescreva a NOVA PERGUNTA do usuário em até 4 ou 5 "
        "palavras-chave baseando-se no contexto do HISTÓRICO.\nNÃO responda à pergunta do usuário. Apenas forneça as "
        "palavras-chave para uma busca em banco de dados. Seja direto e não use pontuação.<|im_end|>\n"
        "<|im_start|>user\nHISTÓRICO:\n";
    EXPECT_EQ(rewrite.str(), expected + "\n\nNOVA PERGUNTA: E o prazo?" + kAnswerHead);
    EXPECT_EQ(inserted_bytes(rewrite), 10u);
}

TEST(ModePrompts, DocumentAndWindow) {
    const std::string system =
        "<|im_start|>system\nVocê é um assistente analista de documentos estritamente LOCAL.\nREGRAS OBRIGATÓRIAS:\n"
        "1. Responda à pergunta de forma direta e objetiva.\n2. Use APENAS as informações contidas no DOCUMENTO "
        "abaixo. NÃO use conhecimento prévio.\n3. Se a informação não estiver clara mas houver dados relacionados, "
        "mencione-os.\n4. Se realmente não houver a informação no DOCUMENTO, diga EXATAMENTE: 'Não encontrei essa "
        "informação no documento'.<|im_end|>\n<|im_start|>user\n### DOCUMENTO:\n";
    const Prompt doc = Engine::build_document_prompt("[Página 1]: texto\n\n", "Qual?");
    EXPECT_EQ(doc.str(), system + "[Página 1]: texto\n\n\n\n### PERGUNTA:\nQual?" + kAnswerHead);
    EXPECT_EQ(inserted_bytes(doc), 20u + 5u);

    const Prompt window = Engine::build_window_prompt("janela", "Qual?");
    EXPECT_EQ(window.str(),
              "<|im_start|>system\nResponda à pergunta de forma completa e detalhada usando o texto abaixo.\n"
              "Se não encontrar, diga 'Não encontrei essa informação no documento'.<|im_end|>\n"
              "<|im_start|>user\nDOCUMENTO:\njanela\n\nPERGUNTA: Qual?<|im_end|>\n<|im_start|>assistant\nRESPOSTA: ");
    EXPECT_EQ(inserted_bytes(window), 6u + 5u);
}

} // namespace
