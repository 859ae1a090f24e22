"""Compares two transcripts of the modem simulator (modem-sim --transcript):
what the modem received and did must be the same, whatever the times.

    compare_transcripts.py EXPECTED ACTUAL

Compared: every byte the modem received (joined, so that the way the bytes
were split into blocks does not count), every byte it sent back (joined), and
in order each record of what it did (commands, reads, deletions, SMS, the
memory at the end), without times, process ids and pty names. Exit status 0
when both agree, 1 with the first difference otherwise, 2 on a wrong call."""
import json
import sys

# Records that say when and where, not what: left out.
SKIPPED = {"start", "rx", "tx", "client_opened", "client_closed", "hangup", "exit"}
VOLATILE_FIELDS = {"t", "pid", "link", "slave"}


def load(path):
    with open(path, encoding="utf-8") as f:
        records = [json.loads(line) for line in f if line.strip()]
    received = "".join(r["data"] for r in records if r["type"] == "rx")
    sent = "".join(r["data"] for r in records if r["type"] == "tx")
    events = [
        {k: v for k, v in r.items() if k not in VOLATILE_FIELDS}
        for r in records
        if r["type"] not in SKIPPED
    ]
    return received, sent, events


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def compare_bytes(what, expected, actual):
    if expected == actual:
        return True
    i = first_difference(expected, actual)
    print(f"{what} differ at byte {i} (expected {len(expected)} bytes, got {len(actual)}):")
    print(f"  expected {expected[max(0, i - 20):i + 40]!r}")
    print(f"  actual   {actual[max(0, i - 20):i + 40]!r}")
    return False


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    expected = load(sys.argv[1])
    actual = load(sys.argv[2])
    ok = compare_bytes("bytes received by the modem", expected[0], actual[0])
    ok = compare_bytes("bytes sent by the modem", expected[1], actual[1]) and ok
    if expected[2] != actual[2]:
        i = first_difference(expected[2], actual[2])
        print(f"records differ at record {i} (expected {len(expected[2])}, got {len(actual[2])}):")
        print("  expected", json.dumps(expected[2][i], ensure_ascii=False) if i < len(expected[2]) else "nothing")
        print("  actual  ", json.dumps(actual[2][i], ensure_ascii=False) if i < len(actual[2]) else "nothing")
        ok = False
    if ok:
        commands = sum(1 for r in actual[2] if r["type"] == "command")
        print(f"same exchange: {commands} commands, {len(actual[0])} bytes received, "
              f"{len(actual[1])} bytes answered")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
