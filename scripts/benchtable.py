# SPDX-License-Identifier: GPL-3.0-or-later
"""Prints the benchmark table: each figure against its floor, medians of the
same run, with the goal for the ratio (and for peak memory at start-up)."""
import json
import sys

GOALS = [  # (name prefix, goal for the ratio)
    ("FillCombos/", 2.0),
    ("Start-up to first paint/0/", None),
    ("Start-up to first paint/10000/", 1.5),
    ("Start-up to first paint/100000/", 4.0),
    ("FillBeschreibung", 3.0),
    ("Posting 5 MB", 1.5),
    ("PostgreSQL scan", 2.0),
]


def medians(paths):
    rows = {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            name = b["run_name"]
            time = b["real_time"]
            unit = b.get("time_unit", "ns")
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[unit]
            rows[name] = (time * scale, b.get("peak_MB"), b.get("error_occurred", False))
    return rows


def goal_for(case):
    for prefix, goal in GOALS:
        if case.startswith(prefix):
            return goal
    return None


def label(case):
    """The case as a reader names it: without the runner's repetition details."""
    parts = [p for p in case.split("/") if not p.startswith("iterations:") and p != "manual_time"]
    text = "/".join(parts)
    text = text.replace("/update:0", " insert").replace("/update:1", " update")
    if text.startswith("Start-up to first paint/"):
        text = "Start-up, " + text.split("/")[1] + " settings"
    return text


def main():
    rows = medians(sys.argv[1:])
    print(f"{'case':<48} {'ours ms':>10} {'floor ms':>10} {'ratio':>7} {'goal':>6}  {'ok':<3}")
    failed = False
    for name, (ours, peak, error) in rows.items():
        if not name.startswith("Ours/"):
            continue
        case = name[len("Ours/"):]
        floor = rows.get("Floor/" + case)
        if floor is None or error or floor[2]:
            print(f"{label(case):<48} {'(not run)':>10}")
            continue
        ratio = ours / floor[0]
        goal = goal_for(case + "/") or goal_for(case)
        ok = "" if goal is None else ("yes" if ratio <= goal else "NO")
        failed |= ok == "NO"
        print(f"{label(case):<48} {ours:>10.2f} {floor[0]:>10.2f} {ratio:>7.2f} {goal or '':>6}  {ok:<3}")
        if peak is not None and floor[1] is not None:
            extra = peak - floor[1]
            memory_ok = "" if not case.startswith("Start-up to first paint/100000") else (
                "yes" if extra <= 15 else "NO")
            failed |= memory_ok == "NO"
            print(f"{'  peak memory MB (ours, bare, difference)':<48} {peak:>10.1f} {floor[1]:>10.1f}"
                  f" {extra:>+7.1f} {'+15' if memory_ok else '':>6}  {memory_ok:<3}")
    print()
    print("all goals held" if not failed else "some goals missed (NO above)")


if __name__ == "__main__":
    main()
