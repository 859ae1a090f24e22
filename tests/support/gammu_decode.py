#!/usr/bin/python3
"""Decodes PDUs with python-gammu, an independent decoder, for the tests.

Each argument is a PDU in hex that starts with the service-centre octet; one
JSON object per argument is printed, on its own line. With --link first, the
PDUs are linked as a phone joins concatenated parts, and one object per
message is printed: its part count and its joined text.
"""
import json
import sys

import gammu


def gammu_text(text):
    """The text up to gammu's terminator: for a 7-bit part with escapes gammu
    takes the septet count for the length and hands on what lies beyond."""
    return text.split("\x00", 1)[0] if isinstance(text, str) else ""


def link(pdus):
    messages = [[gammu.DecodePDU(bytes.fromhex(p), SMSC=True)] for p in pdus]
    for group in gammu.LinkSMS(messages):
        info = gammu.DecodeSMS(group)
        if info:
            text = "".join(e["Buffer"] or "" for e in info["Entries"])
        else:
            text = "".join(part["Text"] for part in group)
        print(json.dumps({"parts": len(group), "text": text}, ensure_ascii=False))


def main():
    if sys.argv[1:2] == ["--link"]:
        link(sys.argv[2:])
        return
    for pdu in sys.argv[1:]:
        try:
            sms = gammu.DecodePDU(bytes.fromhex(pdu), SMSC=True)
            out = {
                "number": sms["Number"],
                "text": gammu_text(sms["Text"]),
                "coding": sms["Coding"],
                "length": sms["Length"],
                "type": sms["Type"],
                "validity": sms["SMSC"].get("Validity", ""),
                "udh": sms["UDH"]["Type"],
                "reference": sms.get("MessageReference", 0),
                "status": sms.get("DeliveryStatus", 0),
            }
            if sms.get("DateTime") is not None:
                out["time"] = sms["DateTime"].strftime("%y/%m/%d,%H:%M:%S")
        except Exception as e:  # the test shows what gammu said
            out = {"error": str(e)}
        print(json.dumps(out, ensure_ascii=False))


if __name__ == "__main__":
    main()
