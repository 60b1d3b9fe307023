/*
 * demo - the main job of the library, through its C API only:
 * create a handle, initialise it, index the sample documents, list them,
 * search, answer a question, answer it from one document, answer within a
 * chat, and rewrite a chat question into search keywords.
 *
 *   demo --llm CHAT.gguf --embed EMBED.gguf --data DIR [--docs DIR] [question]
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rag.h"

static const char *const kSampleDocs[] = {
    "contrato-aluguel.txt",
    "relatorio-manutencao-utf16.txt",
    "notas-reuniao-latin1.txt",
};

static void usage(void) {
    fprintf(stderr, "usage: demo --llm CHAT.gguf --embed EMBED.gguf --data DIR [--docs DIR] [question]\n");
}

int main(int argc, char **argv) {
    const char *llm = NULL, *embed = NULL, *data = NULL, *docs = "examples/docs";
    const char *question = "Quando vence o contrato de aluguel?";
    for (int i = 1; i < argc; ++i) {
        if (i + 1 < argc && strcmp(argv[i], "--llm") == 0) llm = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "--embed") == 0) embed = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "--data") == 0) data = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "--docs") == 0) docs = argv[++i];
        else if (argv[i][0] != '-') question = argv[i];
        else { usage(); return 2; }
    }
    if (!llm || !embed || !data) { usage(); return 2; }

    char index_path[1024];
    snprintf(index_path, sizeof index_path, "%s/index.hnsw", data);

    printf("librag %s\n", rag_version());
    rag_handle *h = rag_create(llm, embed, index_path, docs, data, 0, 0);
    if (!h) { fprintf(stderr, "rag_create failed\n"); return 1; }
    if (rag_init(h) != RAG_OK) {
        fprintf(stderr, "rag_init: %s\n", rag_last_error(h));
        rag_destroy(h);
        return 1;
    }

    for (size_t i = 0; i < sizeof kSampleDocs / sizeof kSampleDocs[0]; ++i) {
        char path[1024];
        snprintf(path, sizeof path, "%s/%s", docs, kSampleDocs[i]);
        int rc = rag_add_document(h, path);
        printf("index %-40s -> %d%s%s\n", kSampleDocs[i], rc, rc ? " " : "", rc ? rag_last_error(h) : "");
    }

    static char buf[16384];
    if (rag_get_indexed_files(h, buf, sizeof buf) == RAG_OK) printf("\nindexed files:\n%s", buf);

    rag_search_result results[3];
    int n = rag_search(h, question, 3, results);
    printf("\nsearch: %s\n", question);
    for (int i = 0; i < n; ++i)
        printf("  %d. %.3f  %s #%d\n", i + 1, results[i].score, results[i].file_path, results[i].chunk_id);

    int rc = rag_generate(h, question, buf, (int)sizeof buf);
    printf("\nquestion: %s\nanswer (%d): %s\n", question, rc, buf);

    char doc[1024];
    snprintf(doc, sizeof doc, "%s/%s", docs, kSampleDocs[0]);
    int rc_doc = rag_generate_with_context(h, question, doc, NULL, buf, (int)sizeof buf);
    printf("\nfrom %s only (%d): %s\n", kSampleDocs[0], rc_doc, buf);

    const char *history = "Usuário: Qual é o valor do aluguel?\nAssistente: 2.300 reais por mês.\n";
    const char *follow_up = "E quando ele vence?";
    int rc_chat = rag_generate_chat_with_context(h, history, follow_up, "O contrato vence em março de 2031.",
                                                 buf, (int)sizeof buf);
    printf("\nchat: %s\nanswer (%d): %s\n", follow_up, rc_chat, buf);

    int rc_rewrite = rag_rewrite_query(h, history, follow_up, buf, (int)sizeof buf);
    printf("\nsearch keywords (%d): %s\n", rc_rewrite, buf);

    rag_destroy(h);
    return rc == RAG_OK && rc_doc == RAG_OK && rc_chat == RAG_OK && rc_rewrite == RAG_OK ? 0 : 1;
}
