#!/usr/bin/env python3
"""Writes a large mapisim store file: one profile, one store, a finder with
FOLDERS folders below it, SEARCH of them search folders, at most DEPTH levels
deep, each non-search folder holding up to FANOUT folders. The same seed
gives the same file.

Usage: storegen.py --folders N --search M [--depth D] [--fanout F] [--seed S]
                   [--profiles P] [--flat] [--out FILE]"""
import argparse
import random
import sys


def generate(folders, search, depth, fanout, seed, profiles=1, flat=False):
    rng = random.Random(seed)
    # Exactly |search| search folders, spread at random.
    kinds = [True] * search + [False] * (folders - search)
    rng.shuffle(kinds)
    # Each folder hangs below the finder or below a generic folder that still has room
    # (at most |fanout| children, at most |depth| levels below the finder).
    children = [[] for _ in range(folders)]
    top, open_generic = [], []
    for index in range(folders):
        parent = None
        if not flat and open_generic and rng.random() < 0.8:
            slot = rng.randrange(len(open_generic))
            parent, level = open_generic[slot]
            children[parent].append(index)
            if len(children[parent]) >= fanout:
                open_generic[slot] = open_generic[-1]
                open_generic.pop()
        else:
            top.append(index)
            level = 0
        if not kinds[index] and not flat and level + 1 < depth:
            open_generic.append((index, level + 1))

    lines = []
    for p in range(max(profiles, 1)):
        lines.append("profile \"Profile %02d\"%s" % (p, " default" if p == 0 else ""))
        lines.append("  store \"Mailbox %02d\" default" % p if p else "  store \"Mailbox\" default")
        if p:
            continue
        lines.append("    finder Finder")
        stack = [(index, 3) for index in reversed(top)]
        while stack:
            index, level = stack.pop()
            lines.append("  " * level + "folder \"Folder %06d\"%s" % (index, " search" if kinds[index] else ""))
            stack.extend((child, level + 1) for child in reversed(children[index]))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--folders", type=int, required=True)
    parser.add_argument("--search", type=int, required=True)
    parser.add_argument("--depth", type=int, default=4)
    parser.add_argument("--fanout", type=int, default=20)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--profiles", type=int, default=1)
    parser.add_argument("--flat", action="store_true")
    parser.add_argument("--out")
    args = parser.parse_args()
    if args.search > args.folders:
        parser.error("--search cannot exceed --folders")
    text = generate(args.folders, args.search, args.depth, args.fanout, args.seed, args.profiles, args.flat)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
