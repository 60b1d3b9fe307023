// The generated test models: byte-exact regeneration, the embedding geometry and the
// scripted chat replies, all checked through llama.cpp as the engine will use them.

#include "model_gen/model_gen.h"
#include "test_support.h"

#include <llama.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using namespace test_support;

const fs::path kVocabDir = RAG_VOCAB_DIR;

const bool kQuietLlama = [] {
    llama_log_set([](ggml_log_level level, const char *text, void *) {
        if (level == GGML_LOG_LEVEL_ERROR) std::fputs(text, stderr);
    }, nullptr);
    llama_backend_init();
    return true;
}();

struct Loaded {
    std::unique_ptr<llama_model, decltype(&llama_model_free)> model{nullptr, llama_model_free};
    std::unique_ptr<llama_context, decltype(&llama_free)> ctx{nullptr, llama_free};
    const llama_vocab *vocab = nullptr;

    Loaded(const std::string &path, bool embeddings) {
        model.reset(llama_model_load_from_file(path.c_str(), llama_model_default_params()));
        if (!model) throw std::runtime_error("cannot load " + path);
        llama_context_params cp = llama_context_default_params();
        cp.n_ctx = cp.n_batch = cp.n_ubatch = 512;
        cp.n_threads = cp.n_threads_batch = 2;
        cp.embeddings = embeddings;
        ctx.reset(llama_init_from_model(model.get(), cp));
        if (!ctx) throw std::runtime_error("cannot create a context for " + path);
        vocab = llama_model_get_vocab(model.get());
    }

    std::vector<llama_token> tokenize(const std::string &text) const {
        std::vector<llama_token> out(text.size() + 8);
        int n = llama_tokenize(vocab, text.data(), static_cast<int32_t>(text.size()), out.data(),
                               static_cast<int32_t>(out.size()), true, true);
        out.resize(static_cast<size_t>(std::max(n, 0)));
        return out;
    }

    std::string piece(llama_token t) const {
        char buf[256];
        int n = llama_token_to_piece(vocab, t, buf, sizeof buf, 0, false);
        return std::string(buf, static_cast<size_t>(std::max(n, 0)));
    }

    std::vector<float> embed(const std::string &text) {
        std::vector<llama_token> tokens = tokenize(text);
        if (llama_encode(ctx.get(), llama_batch_get_one(tokens.data(), static_cast<int32_t>(tokens.size()))) != 0)
            throw std::runtime_error("encode failed");
        const float *e = llama_get_embeddings_seq(ctx.get(), 0);
        if (!e) throw std::runtime_error("no pooled embedding");
        std::vector<float> v(e, e + llama_model_n_embd(model.get()));
        double norm = 0;
        for (float x : v) norm += double(x) * x;
        for (float &x : v) x = static_cast<float>(x / std::sqrt(norm));
        return v;
    }

    // The user turn through the model's own chat template, then sampling until EOG or `limit`.
    std::vector<llama_token> reply(const std::string &question, llama_sampler *sampler, int limit) {
        const llama_chat_message msg{"user", question.c_str()};
        std::vector<char> buf(4096);
        const int32_t n = llama_chat_apply_template(llama_model_chat_template(model.get(), nullptr), &msg, 1,
                                                    true, buf.data(), static_cast<int32_t>(buf.size()));
        if (n < 0 || n > static_cast<int32_t>(buf.size())) throw std::runtime_error("chat template failed");
        std::vector<llama_token> prompt = tokenize(std::string(buf.data(), static_cast<size_t>(n)));

        std::vector<llama_token> out;
        llama_batch batch = llama_batch_get_one(prompt.data(), static_cast<int32_t>(prompt.size()));
        llama_token next = 0;
        while (static_cast<int>(out.size()) < limit) {
            if (llama_decode(ctx.get(), batch) != 0) throw std::runtime_error("decode failed");
            next = llama_sampler_sample(sampler, ctx.get(), -1);
            out.push_back(next);
            if (llama_vocab_is_eog(vocab, next)) break;
            batch = llama_batch_get_one(&next, 1);
        }
        return out;
    }

    std::string render(const std::vector<llama_token> &tokens) const {
        std::string text;
        for (llama_token t : tokens)
            if (!llama_vocab_is_eog(vocab, t)) text += piece(t);
        return text;
    }
};

using SamplerPtr = std::unique_ptr<llama_sampler, decltype(&llama_sampler_free)>;

SamplerPtr make_sampler(float temperature) {
    SamplerPtr chain(llama_sampler_chain_init(llama_sampler_chain_default_params()), llama_sampler_free);
    if (temperature <= 0) {
        llama_sampler_chain_add(chain.get(), llama_sampler_init_greedy());
    } else {
        llama_sampler_chain_add(chain.get(), llama_sampler_init_temp(temperature));
        llama_sampler_chain_add(chain.get(), llama_sampler_init_dist(42));
    }
    return chain;
}

double cosine(const std::vector<float> &a, const std::vector<float> &b) {
    double dot = 0;
    for (size_t i = 0; i < a.size(); ++i) dot += double(a[i]) * b[i];
    return dot;
}

TEST(ModelGen, RegenerationGivesTheFixtureBytesAndSkipsIdenticalFiles) {
    TempDir dir;
    const std::string embed = dir.str("embed.gguf"), chat = dir.str("chat-qwen2.gguf");
    EXPECT_TRUE(model_gen::make_embed_model((kVocabDir / "ggml-vocab-bert-bge.gguf").string(), embed));
    const model_gen::ChatModelSpec spec{"qwen2", (kVocabDir / "ggml-vocab-qwen2.gguf").string(), chat,
                                        model_gen::kAnswerScript, false};
    EXPECT_TRUE(model_gen::make_chat_model(spec));

    EXPECT_TRUE(read_file(embed) == read_file(embed_model()));
    EXPECT_TRUE(read_file(chat) == read_file(chat_model("chat-qwen2")));
    EXPECT_FALSE(model_gen::make_embed_model((kVocabDir / "ggml-vocab-bert-bge.gguf").string(), embed));
    EXPECT_FALSE(model_gen::make_chat_model(spec));
}

TEST(ModelGen, EmbeddingsFollowSharedContentWords) {
    Loaded m(embed_model(), true);
    ASSERT_EQ(llama_model_n_embd(m.model.get()), 384);
    const auto contract = m.embed("O contrato de aluguel vence em março.");
    const auto same_topic = m.embed("Quando VENCE o contrato de aluguel?");
    const auto other_topic = m.embed("A receita de bolo leva farinha e ovos.");
    const auto stop_words = m.embed("o a de the of and");

    EXPECT_GT(cosine(contract, same_topic), 0.5);
    // Function words and punctuation are shared here but carry no weight.
    EXPECT_LT(cosine(contract, other_topic), 0.3);
    // Stop words alone leave only the constant output bias: not zero, and no direction.
    for (float x : stop_words) ASSERT_NEAR(x, 1.0 / std::sqrt(384.0), 1e-5);
    // Accents and case vanish in WordPiece, so these are the same bag of words.
    EXPECT_GT(cosine(m.embed("Março contrato"), m.embed("marco CONTRATO")), 0.999);
}

struct ChatCase {
    const char *name;
    const char *model;
    const char *expected; // the reply as rendered by token_to_piece
    float temperature;
};

void PrintTo(const ChatCase &c, std::ostream *os) { *os << c.name; }

class ChatScript : public testing::TestWithParam<ChatCase> {};

TEST_P(ChatScript, RepliesWithTheScriptThenEos) {
    const ChatCase c = GetParam();
    Loaded m(chat_model(c.model), false);
    SamplerPtr sampler = make_sampler(c.temperature);
    const std::vector<llama_token> out = m.reply("Quando vence o contrato?", sampler.get(), 64);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), llama_vocab_eos(m.vocab));
    EXPECT_EQ(m.render(out), c.expected);
}

const std::string kPhi3Reply = std::string(" ") + model_gen::kAnswerScript;

INSTANTIATE_TEST_SUITE_P(ModelGen, ChatScript,
                         testing::Values(ChatCase{"Phi3Greedy", "chat-phi3", kPhi3Reply.c_str(), 0.0f},
                                         ChatCase{"Phi3Temp01", "chat-phi3", kPhi3Reply.c_str(), 0.1f},
                                         ChatCase{"Phi3Temp07", "chat-phi3", kPhi3Reply.c_str(), 0.7f},
                                         ChatCase{"Qwen2Greedy", "chat-qwen2", model_gen::kAnswerScript, 0.0f},
                                         ChatCase{"Qwen2Temp01", "chat-qwen2", model_gen::kAnswerScript, 0.1f},
                                         ChatCase{"Qwen2Temp07", "chat-qwen2", model_gen::kAnswerScript, 0.7f}),
                         [](const testing::TestParamInfo<ChatCase> &info) { return std::string(info.param.name); });

TEST(ModelGen, LoopAndEosModels) {
    {
        Loaded m(chat_model("chat-phi3-loop"), false);
        SamplerPtr sampler = make_sampler(0.7f);
        const auto out = m.reply("Diga algo.", sampler.get(), 40);
        ASSERT_EQ(out.size(), 40u);
        const std::string twice = std::string(" ") + model_gen::kLoopScript + " " + model_gen::kLoopScript;
        EXPECT_EQ(m.render(out).substr(0, twice.size()), twice);
    }
    Loaded m(chat_model("chat-phi3-eos"), false);
    SamplerPtr sampler = make_sampler(0.0f);
    const auto out = m.reply("Diga algo.", sampler.get(), 8);
    EXPECT_EQ(out, std::vector<llama_token>{llama_vocab_eos(m.vocab)});
}

TEST(ModelGen, RefusesUnscriptableRequests) {
    TempDir dir;
    model_gen::ChatModelSpec spec{"llama", (kVocabDir / "ggml-vocab-phi-3.gguf").string(), dir.str("m.gguf"),
                                  "o contrato vence em 2025", false};
    try {
        model_gen::make_chat_model(spec);
        FAIL() << "a script with a repeated token was accepted";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("'2'"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(spec.out_path));

    spec.script = "";
    spec.loop = true;
    EXPECT_THROW(model_gen::make_chat_model(spec), std::runtime_error);
    spec.loop = false;
    spec.arch = "gpt2";
    EXPECT_THROW(model_gen::make_chat_model(spec), std::runtime_error);
    spec.arch = "llama";
    spec.vocab_path = dir.str("missing.gguf");
    EXPECT_THROW(model_gen::make_chat_model(spec), std::runtime_error);
    EXPECT_THROW(model_gen::make_embed_model(spec.vocab_path, dir.str("e.gguf")), std::runtime_error);
    EXPECT_THROW(model_gen::make_embed_model((kVocabDir / "ggml-vocab-phi-3.gguf").string(), dir.str("e.gguf")),
                 std::runtime_error);
    EXPECT_TRUE(fs::is_empty(dir.path())) << "a refused model left a file behind";
}

} // namespace
