// rag-make-models: writes the small deterministic GGUF models used by tests and the demo.
//
//   rag-make-models all   --vocab-dir DIR --out-dir DIR
//   rag-make-models bench --vocab-dir DIR --out-dir DIR   (realistic shapes, random weights)
//   rag-make-models embed --vocab FILE --out FILE
//   rag-make-models chat  --arch llama|qwen2 --vocab FILE --out FILE --script TEXT [--loop]

#include "model_gen/model_gen.h"

#include <llama.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

namespace {

const char *const kUsage =
    "usage:\n"
    "  rag-make-models all   --vocab-dir DIR --out-dir DIR\n"
    "  rag-make-models bench --vocab-dir DIR --out-dir DIR\n"
    "  rag-make-models embed --vocab FILE --out FILE\n"
    "  rag-make-models chat  --arch llama|qwen2 --vocab FILE --out FILE --script TEXT [--loop]\n";

struct Args {
    std::map<std::string, std::string> values;
    bool loop = false;

    const std::string &need(const std::string &name) const {
        auto it = values.find(name);
        if (it == values.end()) throw std::runtime_error("missing --" + name);
        return it->second;
    }
};

Args parse(int argc, char **argv, std::initializer_list<const char *> valued, bool allow_loop) {
    Args args;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (allow_loop && arg == "--loop") {
            args.loop = true;
            continue;
        }
        bool known = false;
        for (const char *name : valued) known = known || arg == std::string("--") + name;
        if (!known) throw std::runtime_error("unknown argument " + arg);
        if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
        args.values[arg.substr(2)] = argv[++i];
    }
    return args;
}

void errors_only(ggml_log_level level, const char *text, void *) {
    if (level == GGML_LOG_LEVEL_ERROR) std::fputs(text, stderr);
}

} // namespace

int main(int argc, char **argv) {
    llama_log_set(errors_only, nullptr);
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "all") {
            const Args a = parse(argc, argv, {"vocab-dir", "out-dir"}, false);
            model_gen::make_standard_set(a.need("vocab-dir"), a.need("out-dir"), std::cout);
        } else if (command == "bench") {
            const Args a = parse(argc, argv, {"vocab-dir", "out-dir"}, false);
            model_gen::make_bench_set(a.need("vocab-dir"), a.need("out-dir"), std::cout);
        } else if (command == "embed") {
            const Args a = parse(argc, argv, {"vocab", "out"}, false);
            const bool written = model_gen::make_embed_model(a.need("vocab"), a.need("out"));
            std::cout << (written ? "wrote     " : "unchanged ") << a.need("out") << "\n";
        } else if (command == "chat") {
            const Args a = parse(argc, argv, {"arch", "vocab", "out", "script"}, true);
            const bool written = model_gen::make_chat_model(
                {a.need("arch"), a.need("vocab"), a.need("out"), a.need("script"), a.loop});
            std::cout << (written ? "wrote     " : "unchanged ") << a.need("out") << "\n";
        } else {
            std::cerr << kUsage;
            return 2;
        }
    } catch (const std::exception &e) {
        std::cerr << "rag-make-models: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
