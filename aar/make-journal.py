#!/usr/bin/env python3
"""Writes a long battle journal, Tarveld.log, for timing tarveld-aar.

    aar/make-journal.py LINES DIR      # DIR/Tarveld.log with LINES lines

DIR is created when missing.

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


def main():
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
