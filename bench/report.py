"""Folds the Google Benchmark JSON files of bench/run.sh into one table and one JSON file."""
import json
import pathlib
import sys

out, cores, load_before, load_after = pathlib.Path(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]

ROWS = [  # (benchmark name prefix, row label)
    ("BM_IndexText/threads:1/", "indexing, `n_threads` 1"),
    ("BM_IndexText/threads:4/", "indexing, `n_threads` 4"),
    ("BM_IndexText/threads:8/", "indexing, `n_threads` 8"),
    ("BM_IndexIntoStore/chunks:1000/", "indexing into a store of 1k chunks (test embedder)"),
    ("BM_IndexIntoStore/chunks:10000/", "indexing into a store of 10k chunks (test embedder)"),
    ("BM_IndexIntoStore/chunks:100000/", "indexing into a store of 100k chunks (test embedder)"),
    ("BM_Search/chunks:1000/", "search at 1k chunks"),
    ("BM_Search/chunks:10000/", "search at 10k chunks"),
    ("BM_Search/chunks:100000/", "search at 100k chunks"),
    ("BM_Init/chunks:1000/", "`rag_init` at 1k chunks"),
    ("BM_Init/chunks:100000/", "`rag_init` at 100k chunks"),
    ("BM_PromptPhase/first/", "prompt phase, first prompt"),
    ("BM_PromptPhase/repeated/", "prompt phase, repeated prompt"),
]

runs = {}
for f in sorted(out.glob("bench-*.json")):
    for b in json.loads(f.read_text())["benchmarks"]:
        runs[b["name"]] = b


def find(prefix):
    return next((b for name, b in runs.items() if name.startswith(prefix)), None)


def fmt(x):
    return f"{x:.3g}" if x < 100 else f"{x:.0f}"


rows, lines = [], []
base = find("BM_IndexIntoStore/chunks:1000/")
for prefix, label in ROWS:
    b = find(prefix)
    if not b or "library" not in b:
        continue
    unit = b.get("label", "")
    row = {"path": label, "unit": unit, "library": b["library"], "raw": b["raw"], "ratio": b["ratio"]}
    note = ""
    if prefix.startswith("BM_IndexIntoStore") and base:
        row["vs_1k"] = b["library"] / base["library"]
        note = f" ({row['vs_1k']:.2f} of 1k)"
    if "prompt_tokens" in b:
        note = f" ({int(b['prompt_tokens'])} tokens)"
    if "tokens_per_chunk" in b:
        same = "bit-identical to 1 thread" if b.get("same_as_1_thread") else "differs from 1 thread"
        note = f" ({int(b['tokens_per_chunk'])} tokens a chunk; embedding {same})"
    rows.append(row)
    lines.append(f"| {label}{note} | {fmt(b['library'])} {unit} | {fmt(b['raw'])} | {b['ratio']:.2f} |")

mem = find("BM_ChatModelMemory")
if mem and "before_MB" in mem:
    rows.append({"path": "resident set", "before_load_MB": mem["before_MB"], "loaded_MB": mem["loaded_MB"],
                 "after_unload_MB": mem["unloaded_MB"]})
    lines.append(f"| resident set: before the chat model, after an answer, after the lazy unload | "
                 f"{mem['before_MB']:.0f} / {mem['loaded_MB']:.0f} / {mem['unloaded_MB']:.0f} MB | | |")

header = (f"{cores} cores, load average {load_before} before and {load_after} after the run. "
          "Ratio: library speed over raw speed (above 1: the library is faster).\n\n"
          "| path | library | raw dependency | ratio |\n|---|---|---|---|\n")
(out / "results.md").write_text(header + "\n".join(lines) + "\n")
(out / "results.json").write_text(json.dumps(
    {"cores": int(cores), "load_before": load_before, "load_after": load_after, "rows": rows}, indent=2) + "\n")
