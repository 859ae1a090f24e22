"""Decodes SMS-SUBMIT PDUs, one hexadecimal PDU a line on stdin, with python3-gammu.

Prints one line per PDU: "ok<TAB>number<TAB>hex of the UTF-8 text", or
"error<TAB>message".
"""
import sys

import gammu

for line in sys.stdin:
    pdu = line.strip()
    try:
        sms = gammu.DecodePDU(bytes.fromhex(pdu), SMSC=True)
        text = sms["Text"] or ""
        print("ok\t%s\t%s" % (sms["Number"], text.encode("utf-8").hex()))
    except Exception as error:  # the test shows whatever the decoder says
        print("error\t%s" % str(error).replace("\t", " ").replace("\n", " "))
