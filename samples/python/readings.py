"""Reads a board through the Vandrel control from Python with pywin32's win32com.client.

Not run by the test suite (no Windows Python under Wine here): it only checks that this file
compiles (python3 -m py_compile).

    pip install pywin32
    python readings.py

The Python interpreter's bitness must match the control's: a 32-bit Python needs the x86
control, a 64-bit Python the x64 one (python -c "import struct; print(struct.calcsize('P') * 8)").
Prints the first five cycles whole (number, time, values), each once, then "done". WaitForCycles
waits until the cycles asked for are there, handling the thread's messages meanwhile; ReadCycles
drains the cycles that came since the last call, oldest first: a tuple of rows, each a tuple of
the cycle number, its local time and the channel values. LostCycles counts the cycles the buffer
overwrote before they were read.
"""

import win32com.client

BOARD_ADDRESS = 356  # status port of the board (0x164)
INTERVAL_MS = 250  # sampling interval, milliseconds
CHANNELS = 4  # 1, 4 or 8
CYCLES = 5  # cycles to print


def main():
    # Dispatch binds late by name; the control's properties and methods keep their names.
    vandrel = win32com.client.Dispatch("VANDREL.VandrelCtrl.1")
    vandrel.Address = BOARD_ADDRESS
    vandrel.Interval = INTERVAL_MS
    vandrel.ChannelNumber = CHANNELS
    print(f"Vandrel at port {vandrel.Address}, {vandrel.ChannelNumber} channels, every {vandrel.Interval} ms")

    if not vandrel.Start():
        raise SystemExit("Start failed: " + vandrel.LastErrorText)
    try:
        # WaitForCycles returns how many wait: 0 when none came within 40 intervals.
        printed, lost = 0, 0
        while printed < CYCLES and vandrel.WaitForCycles(CYCLES - printed, 40 * INTERVAL_MS) > 0:
            for number, when, *values in vandrel.ReadCycles(CYCLES - printed):
                print(f"cycle {number} at {when:%H:%M:%S}.{when.microsecond // 1000:03d}:", " ".join(map(str, values)))
                printed += 1
            if vandrel.LostCycles > lost:
                print(f"{vandrel.LostCycles - lost} cycles lost: the buffer was full")
                lost = vandrel.LostCycles
        if printed < CYCLES:
            print("no data:", vandrel.StatusText)
    finally:
        vandrel.Stop()
    print("done")


if __name__ == "__main__":
    main()
