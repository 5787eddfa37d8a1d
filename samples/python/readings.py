"""Reads a board through the Vandrel control from Python with pywin32's win32com.client.

Not run by the test suite (no Windows Python under Wine here): it only checks that this file
compiles (python3 -m py_compile).

    pip install pywin32
    python readings.py

The Python interpreter's bitness must match the control's: a 32-bit Python needs the x86
control, a 64-bit Python the x64 one (python -c "import struct; print(struct.calcsize('P') * 8)").
Prints five readings one interval apart, then "done".
"""

import time

import win32com.client

BOARD_ADDRESS = 356  # status port of the board (0x164)
INTERVAL_MS = 250  # sampling interval, milliseconds
CHANNELS = 4  # 1, 4 or 8
NO_VALUE = 32767  # GetChnlValue's answer for a bad index or a stale reading


def main():
    # Dispatch binds late by name; the control's properties and methods keep their names.
    vandrel = win32com.client.Dispatch("VANDREL.VandrelCtrl.1")
    vandrel.Address = BOARD_ADDRESS
    vandrel.Interval = INTERVAL_MS
    vandrel.ChannelNumber = CHANNELS
    print(f"Vandrel at port {vandrel.Address}, {vandrel.ChannelNumber} channels, every {vandrel.Interval} ms")

    if not vandrel.Start():
        raise SystemExit("Start failed")
    try:
        # Until the first cycle has been read, every channel reads 32767.
        give_up = time.monotonic() + 20 * INTERVAL_MS / 1000
        while vandrel.GetChnlValue(0) == NO_VALUE and time.monotonic() < give_up:
            time.sleep(0.01)
        for reading in range(1, 6):
            values = [vandrel.GetChnlValue(channel) for channel in range(vandrel.ChannelNumber)]
            print(f"reading {reading}:", " ".join(str(v) for v in values))
            time.sleep(INTERVAL_MS / 1000)
    finally:
        vandrel.Stop()
    print("done")


if __name__ == "__main__":
    main()
