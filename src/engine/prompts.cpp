#include "engine/prompts.h"

// Source and literals are UTF-8; kept side by side so the wording reads as a whole.
namespace prompts {

const char *const kQuestionSystem =
    "<|system|>\n"
    "Você é um assistente estritamente LOCAL. Responda perguntas APENAS usando o CONTEXTO fornecido abaixo.\n"
    "REGRAS OBRIGATÓRIAS:\n"
    "1. Se o CONTEXTO não contiver a resposta, diga exatamente: 'Não encontrei nenhum arquivo que mencione ";

const char *const kQuestionRuleFound =
    "'.\n"
    "2. Se encontrar, comece com: 'Foram encontrados esses arquivos que falam sobre ";

const char *const kQuestionRulesRest =
    ":' e então resuma os pontos relevantes.\n"
    "3. NÃO use seu conhecimento geral. Se não está no texto, você não sabe.\n"
    "4. Responda SEMPRE em PORTUGUÊS (Brasil).\n"
    "5. Seja extremamente conciso e direto. Sem introduções polidas.\n"
    "6. Cite os nomes dos arquivos das fontes.\n"
    "<|end|>\n"
    "<|user|>\n"
    "CONTEXTO DOS MEUS ARQUIVOS:\n";

const char *const kQuestionQuestionHead = "PERGUNTA: ";

const char *const kQuestionTail =
    "\n"
    "<|end|>\n"
    "<|assistant|>\n";

const char *const kNoHitHead = "Não encontrei nenhum arquivo nos seus documentos locais que mencione '";
const char *const kNoHitTail = "'.";

} // namespace prompts
