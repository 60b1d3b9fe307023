#include "gguf_out.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace model_gen {

namespace {

struct GgufFree {
    void operator()(gguf_context *c) const { gguf_free(c); }
};
using GgufPtr = std::unique_ptr<gguf_context, GgufFree>;

GgufPtr open_metadata(const std::string &path) {
    gguf_init_params params{/*no_alloc=*/true, /*ctx=*/nullptr};
    GgufPtr g(gguf_init_from_file(path.c_str(), params));
    if (!g) throw std::runtime_error("cannot read GGUF file " + path);
    return g;
}

bool same_content(const std::string &a, const std::string &b) {
    std::error_code ec;
    if (!std::filesystem::exists(b, ec)) return false;
    if (std::filesystem::file_size(a) != std::filesystem::file_size(b, ec) || ec) return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount()) return false;
        if (std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0) return false;
    }
    return fa.eof() && fb.eof();
}

} // namespace

GgufOut::GgufOut(const std::string &arch_, const std::string &name) : arch(arch_) {
    ctx = gguf_init_empty();
    ggml_init_params params{/*mem_size=*/512 * ggml_tensor_overhead(), /*mem_buffer=*/nullptr,
                            /*no_alloc=*/true};
    meta = ggml_init(params);
    if (!ctx || !meta) throw std::runtime_error("out of memory creating a GGUF context");
    gguf_set_val_str(ctx, "general.architecture", arch.c_str());
    gguf_set_val_str(ctx, "general.name", name.c_str());
}

GgufOut::~GgufOut() {
    gguf_free(ctx);
    ggml_free(meta);
}

void GgufOut::copy_tokenizer(const std::string &vocab_path) {
    GgufPtr src = open_metadata(vocab_path);
    // Copy everything into a scratch context, then drop the vocabulary file's own
    // architecture and general keys: a stale general.name can change tokenization.
    GgufPtr scratch(gguf_init_empty());
    gguf_set_kv(scratch.get(), src.get());
    for (int64_t i = gguf_get_n_kv(scratch.get()) - 1; i >= 0; --i) {
        const std::string key = gguf_get_key(scratch.get(), i);
        if (key.rfind("tokenizer.", 0) != 0) gguf_remove_key(scratch.get(), key.c_str());
    }
    if (gguf_find_key(scratch.get(), "tokenizer.ggml.tokens") < 0)
        throw std::runtime_error(vocab_path + " has no tokenizer.ggml.tokens");
    gguf_set_kv(ctx, scratch.get());
}

void GgufOut::set_u32(const std::string &key, uint32_t value) {
    gguf_set_val_u32(ctx, (arch + "." + key).c_str(), value);
}
void GgufOut::set_f32(const std::string &key, float value) {
    gguf_set_val_f32(ctx, (arch + "." + key).c_str(), value);
}
void GgufOut::set_bool(const std::string &key, bool value) {
    gguf_set_val_bool(ctx, (arch + "." + key).c_str(), value);
}

void GgufOut::add_tensor(const std::string &name, ggml_type type, int64_t ne0, int64_t ne1,
                         const std::vector<float> &values) {
    if (static_cast<int64_t>(values.size()) != ne0 * ne1)
        throw std::logic_error("tensor " + name + ": value count does not match its shape");
    if (ne0 % ggml_blck_size(type) != 0)
        throw std::logic_error("tensor " + name + ": row length not a multiple of the block size");

    std::vector<uint8_t> &blob = blobs.emplace_back(ggml_row_size(type, ne0) * static_cast<size_t>(ne1));
    if (type == GGML_TYPE_F32) {
        std::memcpy(blob.data(), values.data(), blob.size());
    } else if (type == GGML_TYPE_F16) {
        ggml_fp32_to_fp16_row(values.data(), reinterpret_cast<ggml_fp16_t *>(blob.data()), ne0 * ne1);
    } else {
        ggml_quantize_chunk(type, values.data(), blob.data(), 0, ne1, ne0, nullptr);
    }

    ggml_tensor *t = ne1 == 1 ? ggml_new_tensor_1d(meta, type, ne0) : ggml_new_tensor_2d(meta, type, ne0, ne1);
    ggml_set_name(t, name.c_str());
    t->data = blob.data();
    gguf_add_tensor(ctx, t);
}

void GgufOut::add_filled(const std::string &name, ggml_type type, int64_t ne0, int64_t ne1, float value) {
    add_tensor(name, type, ne0, ne1, std::vector<float>(static_cast<size_t>(ne0 * ne1), value));
}

bool GgufOut::write(const std::string &path, const std::function<void(const std::string &)> &check) const {
    // Written beside the target and renamed, so a reader never sees half a model.
    const std::string tmp = path + ".tmp." + std::to_string(::getpid());
    try {
        if (!gguf_write_to_file(ctx, tmp.c_str(), false)) throw std::runtime_error("cannot write " + path);
        if (check) check(tmp);
        if (same_content(tmp, path)) {
            std::filesystem::remove(tmp);
            return false;
        }
        std::filesystem::rename(tmp, path);
        return true;
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove(tmp, ec);
        throw;
    }
}

TokenList read_token_list(const std::string &vocab_path) {
    GgufPtr g = open_metadata(vocab_path);
    const int64_t tokens = gguf_find_key(g.get(), "tokenizer.ggml.tokens");
    const int64_t types = gguf_find_key(g.get(), "tokenizer.ggml.token_type");
    if (tokens < 0 || types < 0 || gguf_get_arr_type(g.get(), types) != GGUF_TYPE_INT32 ||
        gguf_get_arr_n(g.get(), types) != gguf_get_arr_n(g.get(), tokens))
        throw std::runtime_error(vocab_path + " lacks a usable token list");

    TokenList list;
    const int64_t model = gguf_find_key(g.get(), "tokenizer.ggml.model");
    if (model >= 0 && gguf_get_kv_type(g.get(), model) == GGUF_TYPE_STRING) list.model = gguf_get_val_str(g.get(), model);
    const size_t n = gguf_get_arr_n(g.get(), tokens);
    const auto *type_data = static_cast<const int32_t *>(gguf_get_arr_data(g.get(), types));
    list.text.reserve(n);
    for (size_t i = 0; i < n; ++i) list.text.emplace_back(gguf_get_arr_str(g.get(), tokens, i));
    list.type.assign(type_data, type_data + n);
    return list;
}

} // namespace model_gen
