// rag_search and rag_generate on indexed documents, with the generated models.

#include <cstring>

#include "api/rag_handle.h"
#include "rag.h"
#include "test_support.h"

namespace {

using namespace test_support;

class ApiAnswering : public ::testing::Test {
protected:
    TempDir dir;
    HandlePtr h = open_handle(dir, model_path("chat-phi3"));

    void add_text(const std::string &path, const std::string &text) {
        CapturedOutput quiet;
        ASSERT_EQ(rag_add_text_document(h.get(), path.c_str(), text.c_str()), RAG_OK);
    }
    int search(const std::string &q, int top_k, rag_search_result *records) {
        CapturedOutput quiet;
        return rag_search(h.get(), q.c_str(), top_k, records);
    }
};

TEST_F(ApiAnswering, TopKIsClampedAndRecordsAreCutAndPadded) {
    const std::string long_path = dir.str(std::string(200, 'p') + "/" + std::string(200, 'q') + "/" +
                                          std::string(200, 'r') + ".txt");
    std::string long_text = "marcador";
    while (long_text.size() < 2100) long_text += " marcador";
    add_text(long_path, long_text);
    rag_search_result r[3];
    ASSERT_EQ(search("marcador", 3, r), 1);
    EXPECT_EQ(std::string(r[0].file_path), long_path.substr(0, 511));
    EXPECT_EQ(std::string(r[0].text), long_text.substr(0, 2047));

    for (int i = 0; i < 12; ++i)
        add_text(dir.str("doc" + std::to_string(i) + ".txt"), "contrato numero " + std::to_string(i));
    rag_search_result records[12];
    for (int top_k : {0, 11, -5}) {
        std::memset(records, 'x', sizeof records);
        EXPECT_EQ(search("contrato", top_k, records), 3) << top_k;
        EXPECT_EQ(records[3].file_path[0], 'x');
    }
    EXPECT_EQ(search("contrato", 10, records), 10);
    const std::string stored = dir.str("doc0.txt");
    bool seen = false;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(records[i].page_number, 0);
        EXPECT_GT(records[i].score, 1.45f);  // every chunk matches the text search too
        if (records[i].file_path != stored) continue;
        seen = true;
        EXPECT_STREQ(records[i].text, "contrato numero 0");
        EXPECT_EQ(records[i].chunk_id, 0);
        const size_t len = std::strlen(records[i].file_path);
        EXPECT_EQ(std::string(records[i].file_path + len, 512 - len), std::string(512 - len, '\0'));
    }
    EXPECT_TRUE(seen);
}

TEST_F(ApiAnswering, NoHitAnswersWithoutTheModel) {
    char buf[512];
    CapturedOutput out;
    EXPECT_EQ(rag_generate(h.get(), "Onde fica o 'cofre'?", buf, sizeof buf), RAG_OK);
    EXPECT_STREQ(buf, "Não encontrei nenhum arquivo nos seus documentos locais que mencione 'Onde fica o 'cofre'?'.");
    EXPECT_HAS(out.out(), "[Engine] No context chunks found. Bypassing LLM.\n");
    EXPECT_FALSE(h->engine->is_llm_loaded());
}

TEST_F(ApiAnswering, AnswersFromRetrievedChunks) {
    add_text(dir.str("contrato.txt"), "O contrato de aluguel vence em março de 2031.");
    add_text(dir.str("manutencao.txt"), "A bomba hidráulica foi trocada em agosto.");
    const char *question = "Quando vence o contrato de aluguel?";
    char buf[512];
    CapturedOutput out;
    ASSERT_EQ(rag_generate(h.get(), question, buf, sizeof buf), RAG_OK);
    EXPECT_HAS(std::string(buf), "o contrato vence em março de 2031.");
    EXPECT_HAS(out.out(), "[Engine] Retrieved 1 context chunks\n");
    EXPECT_TRUE(h->engine->is_llm_loaded());

    // The same answer one byte too long for the buffer: cut with an ellipsis.
    const std::string answer = buf;
    std::vector<char> small(answer.size());
    EXPECT_EQ(rag_generate(h.get(), question, small.data(), (int)small.size()), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::string(small.data()), answer.substr(0, small.size() - 4) + "...");
}

} // namespace
