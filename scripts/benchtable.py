# SPDX-License-Identifier: GPL-3.0-or-later
"""Prints the benchmark table. Each case and its floor ran as interleaved
pairs (ours, floor, ours, floor, ...); a ratio is the median of the pair
ratios, with their range beside it, and a goal holds when that median meets
it. Start-up is measured against a bare window showing one line of text, plus
the raw scan of the store's named settings; the selection figure has a goal
in milliseconds, not a floor. With --slowline FILE it prints the steps on a
slow line instead: each against its round trips times the line's 20 ms."""
import json
import re
import statistics
import sys

RATIO_GOALS = [  # (case prefix, goal for the median ratio)
    ("FillCombos/", 2.0),
    ("Posting 5 MB", 1.5),
    ("PostgreSQL scan", 2.0),
    ("Start-up to first paint/", 1.3),
]
TIME_GOALS = {  # case: goal in ms
    "Selection to painted memo/1000": 16.0,
    "Selection to painted memo/10000": 50.0,
}
MEMORY_GOAL = ("Start-up to first paint/100000", 15.0)
LINE_MS = 20.0  # one round trip on the slow line: 10 ms each way
LINE_SLACK_MS = 10.0  # what a step may take beyond its round trips


def samples(paths):
    """{(side, case): {pair number: (ms, peak MB)}} from Google Benchmark's JSON."""
    found = {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            if b.get("error_occurred"):
                continue
            match = re.match(r"(Ours|Floor)/([^#]+)#(\d+)(/[^/]+)?", b["run_name"])
            if not match:
                continue
            side, name, pair, arg = match.groups()
            case = name + (arg or "")
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
            found.setdefault((side, case), {})[int(pair)] = (b["real_time"] * scale,
                                                            b.get("peak_MB"))
    return found


def goal_for(case):
    for prefix, goal in RATIO_GOALS:
        if case.startswith(prefix):
            return goal
    return None


def main():
    data = samples(sys.argv[1:])
    print(f"{'case':<40} {'ours ms':>9} {'floor ms':>9} {'ratio':>6} {'range':>11} {'goal':>6}  ok")
    failed = False
    cases = list(dict.fromkeys(case for side, case in data if side == "Ours"))
    for case in cases:
        ours = data[("Ours", case)]
        ours_ms = statistics.median(t for t, _ in ours.values())
        if case in TIME_GOALS or ("Floor", case) not in data:
            goal = TIME_GOALS.get(case)
            ok = "" if goal is None else ("yes" if ours_ms <= goal else "NO")
            failed |= ok == "NO"
            print(f"{case:<40} {ours_ms:>9.2f} {'':>9} {'':>6} {'':>11} {goal or '':>6}  {ok}")
            continue
        floor = data[("Floor", case)]
        extra = 0.0
        if case.startswith("Start-up to first paint/") and not case.endswith("/0"):
            # The floor of a start-up that shows N settings: the bare window
            # plus the raw scan of N names.
            scan = data.get(("Floor", "FillCombos/" + case.split("/")[1]), {})
            extra = statistics.median(t for t, _ in scan.values()) if scan else 0.0
        ratios = [ours[k][0] / (floor[k][0] + extra) for k in ours if k in floor]
        ratio = statistics.median(ratios)
        floor_ms = statistics.median(t for t, _ in floor.values()) + extra
        goal = goal_for(case)
        ok = "" if goal is None else ("yes" if ratio <= goal else "NO")
        failed |= ok == "NO"
        spread = f"{min(ratios):.2f}-{max(ratios):.2f}"
        print(f"{case:<40} {ours_ms:>9.2f} {floor_ms:>9.2f} {ratio:>6.2f} {spread:>11} "
              f"{goal or '':>6}  {ok}")
        peaks = [p for _, p in ours.values() if p is not None]
        bare = [p for _, p in floor.values() if p is not None]
        if peaks and bare:
            difference = statistics.median(peaks) - statistics.median(bare)
            memory_ok = ""
            if case == MEMORY_GOAL[0]:
                memory_ok = "yes" if difference <= MEMORY_GOAL[1] else "NO"
                failed |= memory_ok == "NO"
            print(f"{'  peak MB: ours, bare, difference':<40} {statistics.median(peaks):>9.1f} "
                  f"{statistics.median(bare):>9.1f} {difference:>+6.1f} {'':>11} "
                  f"{'+' + str(MEMORY_GOAL[1]) if memory_ok else '':>6}  {memory_ok}")
    print()
    print("all goals held" if not failed else "some goals missed (NO above)")


def slow_line(path):
    """The steps on the slow line: milliseconds, round trips, and the ratio to
    what the round trips alone cost."""
    with open(path) as f:
        data = json.load(f)
    print(f"{'slow line (20 ms round trip)':<40} {'ms':>9} {'trips':>6} {'trips ms':>9} "
          f"{'ratio':>6}  ok")
    failed = False
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            print(f"{b['run_name']:<40} {b.get('error_message', 'failed')}")
            failed = True
            continue
        group, name = b["run_name"].split("/")[:2]
        trips = b["round_trips"]
        line_ms = trips * LINE_MS
        ms = b["real_time"]
        if group == "SlowTool":
            # A command of the store tool opens its own connection, whose
            # start-up the round trips leave out.
            print(f"{'quorstore ' + name:<40} {ms:>9.1f} {trips:>6.0f} {line_ms:>9.0f} "
                  f"{ms / line_ms:>6.2f}  (and its connection)")
            continue
        ok = ms <= line_ms + LINE_SLACK_MS
        failed |= not ok
        print(f"{name:<40} {ms:>9.1f} {trips:>6.0f} {line_ms:>9.0f} {ms / line_ms:>6.2f}  "
              f"{'yes' if ok else 'NO'}")
    print()
    print(f"every step within its round trips + {LINE_SLACK_MS:.0f} ms" if not failed
          else "some steps took longer than their round trips (NO above)")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--slowline"]:
        slow_line(sys.argv[2])
    else:
        main()
