// rag_search, rag_generate and the context, chat and rewrite exports, with the
// generated models.

#include <cstring>

#include "engine/prompts.h"
#include "test_support.h"

namespace {

using namespace test_support;

class ApiAnswering : public ::testing::Test {
protected:
    TempDir dir;
    HandlePtr h = open_handle(dir, model_path("chat-phi3"));
};

TEST_F(ApiAnswering, TopKIsClampedAndRecordsAreCutAndPadded) {
    const std::string long_path =
        (dir.path() / std::string(200, 'p') / std::string(200, 'q') / (std::string(200, 'r') + ".txt")).string();
    std::string long_text = "marcador";
    while (long_text.size() < 2100) long_text += " marcador";
    add_text(h.get(), long_path, long_text);
    for (char c = 'a'; c < 'm'; ++c)
        add_text(h.get(), dir.str(std::string("doc") + c + ".txt"), std::string("contrato numero ") + c);
    rag_search_result r[12];
    auto search = [&](const char *q, int top_k) {
        CapturedOutput quiet;
        return rag_search(h.get(), q, top_k, r);
    };
    ASSERT_EQ(search("marcador", 3), 1);
    EXPECT_EQ(std::string(r[0].file_path), long_path.substr(0, 511));
    EXPECT_EQ(std::string(r[0].text), long_text.substr(0, 2047));
    for (int top_k : {0, 11, -5}) {
        std::memset(r, 'x', sizeof r);
        EXPECT_EQ(search("contrato", top_k), 3) << top_k;
        EXPECT_EQ(r[3].file_path[0], 'x');
    }
    // Each record holds its own chunk and score, NUL-padded to the field's end.
    std::memset(r, 'x', sizeof r);
    EXPECT_EQ(search("contrato", 10), 10);
    std::vector<SearchResult> found;
    {
        CapturedOutput quiet;
        found = h->engine->search("contrato", 10);
    }
    ASSERT_EQ(found.size(), 10u);
    for (size_t i = 0; i < found.size(); ++i) EXPECT_EQ(r[i].score, found[i].score) << i;
    const std::string path = r[9].file_path;
    EXPECT_EQ(std::string(r[9].text), "contrato numero " + path.substr(path.size() - 5, 1));
    EXPECT_TRUE(r[9].chunk_id == 0 && r[9].page_number == 0);
    EXPECT_EQ(std::string(r[9].file_path + path.size(), 512 - path.size()), std::string(512 - path.size(), '\0'));
}

TEST_F(ApiAnswering, WordsWithoutLettersOrDigitsLeaveTheTextQuery) {
    add_text(h.get(), dir.str("contrato.txt"), "o prazo do contrato vence em marco ao pé da letra");
    rag_search_result r[3];
    CapturedOutput out;
    // Words of three bytes and more are searched, lowercased: "Pé" is, "é" alone would not be.
    ASSERT_GE(rag_search(h.get(), "prazo Pé \xE2\x80\x93 \xC2\xAB" "contrato\xC2\xBB \xE2\x80\xA6", 3, r), 1);
    EXPECT_EQ(out.out(), "[VectorStore] FTS5 found 1 matches for: \"prazo\"* AND \"pé\"* AND \"\xC2\xAB"
                         "contrato\xC2\xBB\"*\n");
}

TEST_F(ApiAnswering, AnswersFromRetrievedChunksAndWithoutTheModelWhenNoneIsFound) {
    EXPECT_EQ(answer(h.get(), "Onde fica o 'cofre'?"),
              "Não encontrei nenhum arquivo nos seus documentos locais que mencione 'Onde fica o 'cofre'?'.");
    EXPECT_FALSE(h->engine->is_llm_loaded());

    add_text(h.get(), dir.str("contrato.txt"), "O contrato de aluguel vence em março de 2031.");
    add_text(h.get(), dir.str("manutencao.txt"), "A bomba hidráulica foi trocada em agosto.");
    const char *question = "Quando vence o contrato de aluguel?";
    char buf[512];
    CapturedOutput out;
    ASSERT_EQ(rag_generate(h.get(), question, buf, sizeof buf), RAG_OK);
    EXPECT_HAS(std::string(buf), "o contrato vence em março de 2031.");
    EXPECT_HAS(out.out(), "[Engine] Retrieved 1 context chunks\n");
    // The same answer one byte too long for the buffer: cut with an ellipsis.
    const std::string whole = buf;
    EXPECT_EQ(rag_generate(h.get(), question, buf, static_cast<int>(whole.size())), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::string(buf), whole.substr(0, whole.size() - 4) + "...");
}

// The scripted model answers "Palavras-chave: contrato aluguel" to everything.
TEST(ApiModes, SourceThenBufferSize) {
    const std::string keywords = "Palavras-chave: contrato aluguel", text = "O contrato de aluguel vence em março.";
    TempDir dir;
    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    HandlePtr h = open_handle(dir, model_path("chat-qwen2-keywords"));
    CapturedOutput quiet;
    // The reply, or the code of a failure.
    auto with_context = [&](const char *file_path, const char *context_text) {
        const int rc = rag_generate_with_context(h.get(), "Quando?", file_path, context_text, buf, sizeof buf);
        return rc == RAG_OK ? std::string(buf) : "code " + std::to_string(rc);
    };
    EXPECT_EQ(with_context("", nullptr), "code " + std::to_string(RAG_ERR_INVALID_ARGUMENT));
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(with_context(dir.str().c_str(), text.c_str()), prompts::kDocumentNotIndexed);  // the path wins
    EXPECT_EQ(with_context("", ""), prompts::kWindowNotFound);  // empty raw text: no window
    EXPECT_EQ(with_context(nullptr, text.c_str()), keywords);
    // An indexed document answers from its stored chunks, with its prompt dumped when the dump can be written.
    const std::string doc = dir.str("doc.txt");
    write_file(doc, "x");
    ASSERT_EQ(rag_add_text_document(h.get(), doc.c_str(), text.c_str()), RAG_OK);
    const fs::path doc_dump = prompt_dump_file(dir, "prompt_dump.txt");
    fs::create_directory(doc_dump);
    EXPECT_EQ(with_context(doc.c_str(), nullptr), keywords);
    fs::remove(doc_dump);
    EXPECT_EQ(with_context(doc.c_str(), nullptr), keywords);
    const Prompt doc_prompt = Engine::build_document_prompt("[Página 1]: " + text + "\n\n", "Quando?");
    EXPECT_EQ(read_file(doc_dump), as_dumped(doc_prompt.str()));
    // Chat answers fit up to one byte under the buffer, then end in "..."; rewritten queries are cut plainly.
    const fs::path dump = prompt_dump_file(dir, "prompt_chat_dump.txt");
    EXPECT_EQ(rag_generate_chat_with_context(h.get(), "U: oi", "Quando?", nullptr, buf, 33), RAG_OK);
    EXPECT_EQ(buf, keywords);
    EXPECT_EQ(read_file(dump), as_dumped(Engine::build_chat_prompt("U: oi", "Quando?", "").str()));
    EXPECT_EQ(rag_generate_chat_with_context(h.get(), nullptr, "Quando?", nullptr, buf, 32), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_STREQ(buf, "Palavras-chave: contrato alu...");
    EXPECT_EQ(rag_rewrite_query(h.get(), nullptr, "Quando?", buf, 17), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_STREQ(buf, " contrato alugue");
    EXPECT_TRUE(h->engine->is_llm_loaded());
}

} // namespace
