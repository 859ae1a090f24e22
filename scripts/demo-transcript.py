"""Reads the modem simulator's transcript for scripts/demo: prints what was
read, deleted and sent, and checks that the exchange worked."""
import argparse
import json
import sys


def load(path):
    records = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line:
                records.append(json.loads(line))
    return records


def facts(records):
    reads = [r for r in records if r["type"] == "read"]
    deletes = [r for r in records if r["type"] == "delete"]
    stores = [r for r in records if r["type"] == "store"]
    return {
        "commands": [r["line"] for r in records if r["type"] == "command"],
        "read_found": {r["index"] for r in reads if r.get("found")},
        "deleted_indexes": {r["index"] for r in deletes if r.get("deleted")},
        "sms": [r for r in records if r["type"] == "sms"],
        "reads": reads,
        "deletes": deletes,
        "last_store": stores[-1] if stores else None,
    }


def stored_count(store):
    if not store:
        return None
    return sum(len(s.get("messages", [])) for s in store["storages"])


def print_summary(f):
    print("== Modem simulator transcript")
    print("commands received:", len(f["commands"]))
    for r in f["reads"]:
        print(f"  read   {r['storage']} {r['index']}: {'message' if r.get('found') else 'empty'}")
    for r in f["deletes"]:
        print(f"  delete {r['storage']} {r['index']}: {'deleted' if r.get('deleted') else 'nothing there'}")
    for s in f["sms"]:
        print(f"  sent   to {s['number']} ({s['coding']}, {s['udl']} octets, ref {s['reference']}): {s['text']}")
    left = stored_count(f["last_store"])
    if left is not None:
        print("messages left in the phone:", left)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("transcript")
    p.add_argument("--check")
    p.add_argument("--interactive", action="store_true")
    p.add_argument("--expect-send", nargs=2, metavar=("NUMBER", "TEXT"))
    p.add_argument("--modem-log")
    p.add_argument("--command-log")
    a = p.parse_args()
    f = facts(load(a.transcript))

    if a.check:
        return 0 if eval(a.check, {}, dict(f)) else 1

    print_summary(f)
    problems = []
    if a.interactive:
        if not f["commands"]:
            problems.append("the program sent the modem no command")
    if a.expect_send:
        number, text = a.expect_send
        if not {1, 2, 3} <= f["read_found"]:
            problems.append("not every stored message was read")
        if not {1, 2, 3} <= f["deleted_indexes"]:
            problems.append("not every stored message was deleted")
        if stored_count(f["last_store"]) not in (0, None):
            problems.append("messages are left in the phone")
        if len(f["sms"]) != 2:
            problems.append(f"expected 2 SMS, the modem got {len(f['sms'])}")
        elif "".join(s["text"] for s in f["sms"]) != text or any(
                s["number"].lstrip("+") != number for s in f["sms"]):
            problems.append("the SMS sent differ from the text typed")
    if a.modem_log:
        log = open(a.modem_log, encoding="utf-8", errors="replace").read()
        shown = log.count("№ тел:")
        if shown != 3:
            problems.append(f"the modem log shows {shown} messages, not 3")
    if a.command_log:
        log = open(a.command_log, encoding="utf-8", errors="replace").read()
        if log.count("AT+CMGF=0") != 2 or log.count("AT+CMGS=") != 2:
            problems.append("the command log does not hold both parts' commands")
    for problem in problems:
        print("demo: FAILED:", problem)
    if not problems:
        print("demo: the exchange worked")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
