// Where generated answers are cut.

#include <string>

#include "engine/stop_strings.h"
#include "test_support.h"

namespace {

// Appends pieces one by one as the generation loop does; returns the answer.
std::string generate(std::initializer_list<std::string> pieces) {
    std::string answer;
    for (const std::string &piece : pieces) {
        const size_t before = answer.size();
        answer += piece;
        const size_t cut = find_stop_cut(answer, before);
        if (cut != std::string::npos) {
            answer.resize(cut);
            break;
        }
    }
    return answer;
}

TEST(StopStrings, CutsAtAStringSplitAcrossPieces) {
    EXPECT_EQ(generate({"O prazo", " é 30 dias.", "\nPerg", "unta", ":", " e depois"}),
              "O prazo é 30 dias.\n");
    EXPECT_EQ(generate({"fim<", "|e", "nd|", ">resto"}), "fim");
}

TEST(StopStrings, EarlierListEntryWinsOverEarlierPosition) {
    // One piece completes "Question:" (6th) and "###" (5th): cut at "###".
    EXPECT_EQ(generate({"A Question", ":###"}), "A Question:");
    // "USUÁRIO:" is 8th; "<|user|>" (3rd) completed later in the same piece wins.
    EXPECT_EQ(generate({"x USUÁRIO: y <|user|> z"}), "x USUÁRIO: y ");
}

TEST(StopStrings, AtTheStartGivesEmptyAnswer) {
    EXPECT_EQ(generate({"###", "mais"}), "");
    EXPECT_EQ(generate({"<|assistant|>"}), "");
}

TEST(StopStrings, MatchingIsCaseAndByteExact) {
    EXPECT_EQ(generate({"question: pergunta: usuario: ## #"}), "question: pergunta: usuario: ## #");
    EXPECT_EQ(generate({"```JSON ok"}), "```JSON ok");
    EXPECT_EQ(generate({"ok ```json {}"}), "ok ");
    EXPECT_EQ(generate({"DOCUMENTO", ":"}), "");
}

} // namespace
