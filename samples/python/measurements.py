"""Turns channel 1 of a board into a measurement through the Vandrel control, from Python with
pywin32's win32com.client.

Not run by the test suite (no Windows Python under Wine here): it only checks that this file
compiles (python3 -m py_compile).

    pip install pywin32
    python measurements.py

The Python interpreter's bitness must match the control's (see readings.py). Names channel 1
(GetChnlValue(0), ch0 in a record file), gives it a unit and a scale, zeroes it, sets a high limit
with a deadband and a low limit, and watches it for a few cycles. Like readings.py it sinks no
events: it polls AlarmState after every batch of cycles and acknowledges what it saw; with
AlarmLatch set, an alarm that came and went between two looks still shows at the next one.

pywin32 reads a property that takes an argument as a call, vandrel.HighLimit(1), and sets it with
"Set" before its name, vandrel.SetHighLimit(1, 1500); None is Null (no limit, no value).
"""

import win32com.client

BOARD_ADDRESS = 356  # status port of the board (0x164)
INTERVAL_MS = 250  # sampling interval, milliseconds
CHANNELS = 4  # 1, 4 or 8
CYCLES = 8  # cycles to watch
TANK = 1  # the channel, 1 to 8

# The alarm levels AlarmState gives, -2 to 2.
LEVELS = {-2: "low-low", -1: "low", 0: "none", 1: "high", 2: "high-high"}


def main():
    vandrel = win32com.client.Dispatch("VANDREL.VandrelCtrl.1")
    vandrel.Address = BOARD_ADDRESS
    vandrel.Interval = INTERVAL_MS
    vandrel.ChannelNumber = CHANNELS
    print(f"Vandrel at port {vandrel.Address}, {vandrel.ChannelNumber} channels, every {vandrel.Interval} ms")

    # A pressure sensor whose data sheet gives two points: raw 0 is 0 mbar, raw 1000 is 500 mbar.
    # A unit may be any text: "°C", "µm".
    vandrel.SetChannelName(TANK, "Tank")
    vandrel.SetChannelUnit(TANK, "mbar")
    vandrel.Calibrate(TANK, 0, 0, 1000, 500)
    name, unit = vandrel.ChannelName(TANK), vandrel.ChannelUnit(TANK)

    if not vandrel.Start():
        raise SystemExit("Start failed: " + vandrel.LastErrorText)
    try:
        if vandrel.WaitForCycles(1, 40 * INTERVAL_MS) == 0:
            raise SystemExit("no data: " + vandrel.StatusText)
        print(f"{name} reads {vandrel.ChannelValue(TANK):g} {unit}")

        # The tank is empty now: what it reads becomes 0. The cycles from before the zero, not
        # yet read, are dropped.
        print(f"zeroed: offset {vandrel.ZeroChannel(TANK):g}")
        vandrel.ReadCycles(1000)

        # High at 1500 mbar or more, cleared again below 1495; low at 50 mbar or less, cleared above 55.
        vandrel.SetAlarmLatch(TANK, True)
        vandrel.SetAlarmDeadband(TANK, 5)
        vandrel.SetHighLimit(TANK, 1500)
        vandrel.SetLowLimit(TANK, 50)

        # Rows of ReadScaledCycles: the cycle number, its time, then the scaled values (channel n at n + 1).
        watched, shown = 0, 0
        while watched < CYCLES and vandrel.WaitForCycles(1, 40 * INTERVAL_MS) > 0:
            rows = vandrel.ReadScaledCycles(CYCLES - watched)
            watched += len(rows)
            level = vandrel.AlarmState(TANK)
            if rows and level != shown:
                print(f"cycle {rows[-1][0]}: alarm {LEVELS[level]}, {rows[-1][1 + TANK]:g} {unit}")
                shown = level
            # Seen: the latch drops to the level now active and keeps what comes until the next look.
            vandrel.AcknowledgeAlarm(TANK)
        if watched < CYCLES:
            print("no data:", vandrel.StatusText)
    finally:
        vandrel.Stop()
    print("done")


if __name__ == "__main__":
    main()
