#!/usr/bin/env python3
"""Writes a long battle journal, Tarveld.log, for timing tarveld-aar.

    aar/make-journal.py LINES DIR      # DIR/Tarveld.log with LINES lines
    aar/make-journal.py --battle DIR   # the two-day battle of 5,000 events

DIR is created when missing.

The battle of 5,000 events is the one the page's browser tests try: two
game days, 4,900 messages, 60 losses in 12 groups (18 of them within one
game minute) and 40 time-factor changes over 7 levels, the last at the
battle's last moment.

One battle a game day long, in the plug-in's line layout (docs/journal.md):
about nine messages in ten lines, the rest sinkings and time-factor changes,
the game clock moving on a few seconds a line. Deterministic: the same
LINES give the same bytes.
"""
import datetime
import pathlib
import random
import sys


def line(date, game_time, kind, text):
    return f"{date:<19} | {game_time:08d} | {kind:<10} | {text}\r\n"


GROUPS = ["Destroyer Squadron 10", "Destroyer Squadron 4", "Escadre legere", "TF-16", "TF-17",
          "Strike Group A", "Strike Group B", "Convoy PQ-7", "<b>Bold</b> & \"Co\"", "Escort 5",
          "Submarine Flotilla with a very long name that no label could ever hold whole, "
          "Northern Waters", "Cruiser Division 5"]


def battle():
    random.seed(7)
    start = datetime.datetime(1942, 6, 4, 4, 30, 0)
    origin, end = 100000, 100000 + 2 * 86400
    events = []
    for i in range(4899):
        t = origin + 1 + random.randrange(end - origin - 2)
        events.append((t, "MESSAGE", f"{GROUPS[i % 12]} reports contact bearing {i % 360:03d}, "
                                     f"{5 + i % 190} nm"))
    events.append((origin + 3600, "MESSAGE", "Cafe au lait served on the bridge of the flagship"))
    for i in range(18):
        t = origin + 90000 + i * 3
        events.append((t, "SINKING", f"{t:08d}: GroupID={GROUPS[i % 4]}, UnitID={i + 1:02d}, Sinking"))
    for i in range(42):
        t = 2500 + i * 4000
        t = origin + (t + 6000 if 86000 < t < 94000 else t)
        events.append((t, "SINKING", f"{t:08d}: GroupID={GROUPS[i % 12]}, UnitID={20 + i:02d}, Sinking"))
    levels = (1, 2, 4, 8, 15, 30, 60)
    for i in range(39):
        t = origin + 4000 * i + 1000
        events.append((t, "TIMEFACTOR", f"{t:08d}: TimeFactor={levels[i % 7]}"))
    events.append((end, "TIMEFACTOR", f"{end:08d}: TimeFactor=30"))
    events.sort(key=lambda event: event[0])
    out = [line(start.strftime("%Y-%m-%d %H:%M:%S"), origin, "SCENARIO",
                f"Start={start:%Y-%m-%d %H:%M:%S}, Scenario=Carrier Battle/Scen#1")]
    for t, kind, text in events:
        date = (start + datetime.timedelta(seconds=t - origin)).strftime("%Y-%m-%d %H:%M:%S")
        out.append(line(date, t, kind, text))
    return out


def main():
    if sys.argv[1] == "--battle":
        directory = pathlib.Path(sys.argv[2])
        directory.mkdir(parents=True, exist_ok=True)
        (directory / "Tarveld.log").write_bytes("".join(battle()).encode("cp1252"))
        return
    lines, directory = int(sys.argv[1]), pathlib.Path(sys.argv[2])
    random.seed(lines)
    start = datetime.datetime(1942, 6, 4, 4, 30, 0)
    groups = ["Escort 5", "TF-16", "TF-17", "Strike Group A", "Strike Group B", "Convoy PQ-7"]
    game_time = 100000
    out = [line(start.strftime("%Y-%m-%d %H:%M:%S"), game_time, "SCENARIO",
                f"Start={start:%Y-%m-%d %H:%M:%S}, Scenario=Carrier Battle/Scen#1")]
    while len(out) < lines:
        game_time += random.choice((0, 1, 2, 3, 5))
        date = (start + datetime.timedelta(seconds=game_time - 100000)).strftime("%Y-%m-%d %H:%M:%S")
        roll = random.random()
        if roll < 0.04:
            out.append(line(date, game_time, "SINKING",
                            f"{game_time:08d}: GroupID={random.choice(groups)}, "
                            f"UnitID={random.randrange(1, 60):02d}, Sinking"))
        elif roll < 0.08:
            out.append(line(date, game_time, "TIMEFACTOR",
                            f"{game_time:08d}: TimeFactor={random.choice((1, 2, 4, 8, 16))}"))
        else:
            group = random.choice(groups)
            out.append(line(date, game_time, "MESSAGE",
                            f"{group} reports contact bearing {random.randrange(360):03d}, "
                            f"{random.randrange(5, 200)} nm, {random.randrange(2, 40)} aircraft"))
    # A fresh scratch folder is the usual target: make it rather than fail.
    directory.mkdir(parents=True, exist_ok=True)
    (directory / "Tarveld.log").write_bytes("".join(out).encode("cp1252"))


if __name__ == "__main__":
    main()
