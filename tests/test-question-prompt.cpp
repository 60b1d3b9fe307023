// The question prompt, byte for byte.

#include "engine/engine.h"
#include "test_support.h"

namespace {

TEST(QuestionPrompt, GoldenText) {
    std::vector<SearchResult> results = {
        {"C:\\docs\\contrato.txt", "O contrato vence em março.", 2.5f, 0, 0},
        {"docs\\vazio.txt", "", 0.9f, 3, 0},
    };
    const std::string q = "Quando vence o 'contrato'?";
    const std::string expected =
        "<|system|>\n"
        "Você é um assistente estritamente LOCAL. Responda perguntas APENAS usando o CONTEXTO fornecido abaixo.\n"
        "REGRAS OBRIGATÓRIAS:\n"
        "1. Se o CONTEXTO não contiver a resposta, diga exatamente: 'Não encontrei nenhum arquivo que mencione "
        "Quando vence o 'contrato'?'.\n"
        "2. Se encontrar, comece com: 'Foram encontrados esses arquivos que falam sobre Quando vence o "
        "'contrato'?:' e então resuma os pontos relevantes.\n"
        "3. NÃO use seu conhecimento geral. Se não está no texto, você não sabe.\n"
        "4. Responda SEMPRE em PORTUGUÊS (Brasil).\n"
        "5. Seja extremamente conciso e direto. Sem introduções polidas.\n"
        "6. Cite os nomes dos arquivos das fontes.\n"
        "<|end|>\n"
        "<|user|>\n"
        "CONTEXTO DOS MEUS ARQUIVOS:\n"
        "--- Arquivo 1: C:\\docs\\contrato.txt ---\nO contrato vence em março.\n\n"
        "--- Arquivo 2: docs\\vazio.txt ---\n\n\n"
        "PERGUNTA: Quando vence o 'contrato'?\n"
        "<|end|>\n"
        "<|assistant|>\n";
    EXPECT_EQ(Engine::build_prompt(q, results), expected);
}

TEST(QuestionPrompt, NoResultsStillFramesTheQuestion) {
    const std::string p = Engine::build_prompt("x", {});
    EXPECT_NE(p.find("CONTEXTO DOS MEUS ARQUIVOS:\nPERGUNTA: x\n<|end|>\n<|assistant|>\n"), std::string::npos);
}

} // namespace
