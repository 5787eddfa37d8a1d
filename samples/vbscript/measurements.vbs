' Turns channel 1 of a board into a measurement through the Vandrel control, from VBScript.
' Run: cscript //nologo measurements.vbs
' Use the cscript of the control's bitness: on 64-bit Windows C:\Windows\System32\cscript.exe for
' the 64-bit control, C:\Windows\SysWOW64\cscript.exe for the 32-bit one.
'
' Names channel 1 (GetChnlValue(0), ch0 in a record file) and gives it a unit and a scale, zeroes
' it, sets a high limit with a deadband and a low limit, and watches it for a few cycles. cscript
' cannot sink the control's AlarmChanged event, so the script polls AlarmState after every batch of
' cycles and acknowledges what it saw; with AlarmLatch set, an alarm that came and went between two
' looks still shows at the next one. The last line, "done", shows that the script ran to its end.
Option Explicit

Const BoardAddress = 356    ' status port of the board (0x164)
Const IntervalMs = 250      ' sampling interval, milliseconds
Const Channels = 4          ' 1, 4 or 8
Const Cycles = 8            ' cycles to watch
Const Tank = 1              ' the channel, 1 to 8

' The alarm levels AlarmState gives (the type library's vdAlarm... constants, which VBScript lacks).
Function LevelName(level)
    Dim names
    names = Array("low-low", "low", "none", "high", "high-high")
    LevelName = names(level + 2)
End Function

Dim vandrel, rows, watched, shown, level
Set vandrel = CreateObject("VANDREL.VandrelCtrl.1")
vandrel.Address = BoardAddress
vandrel.Interval = IntervalMs
vandrel.ChannelNumber = Channels
WScript.Echo "Vandrel at port " & vandrel.Address & ", " & vandrel.ChannelNumber & _
             " channels, every " & vandrel.Interval & " ms"

' A pressure sensor whose data sheet gives two points: raw 0 is 0 mbar, raw 1000 is 500 mbar.
' A unit may be any text: ChrW(176) & "C" for degrees Celsius.
vandrel.ChannelName(Tank) = "Tank"
vandrel.ChannelUnit(Tank) = "mbar"
vandrel.Calibrate Tank, 0, 0, 1000, 500

If Not vandrel.Start() Then
    WScript.Echo "Start failed: " & vandrel.LastErrorText
    WScript.Quit 1
End If
If vandrel.WaitForCycles(1, 40 * IntervalMs) = 0 Then
    WScript.Echo "no data: " & vandrel.StatusText
    WScript.Quit 1
End If
WScript.Echo vandrel.ChannelName(Tank) & " reads " & vandrel.ChannelValue(Tank) & " " & vandrel.ChannelUnit(Tank)

' The tank is empty now: what it reads becomes 0. The cycles from before the zero, not
' yet read, are dropped.
WScript.Echo "zeroed: offset " & vandrel.ZeroChannel(Tank)
vandrel.ReadCycles 1000

' High at 1500 mbar or more, cleared again below 1495; low at 50 mbar or less, cleared above 55.
vandrel.AlarmLatch(Tank) = True
vandrel.AlarmDeadband(Tank) = 5
vandrel.HighLimit(Tank) = 1500
vandrel.LowLimit(Tank) = 50
WScript.Echo "alarms: high from " & vandrel.HighLimit(Tank) & ", low from " & vandrel.LowLimit(Tank) & _
             ", deadband " & vandrel.AlarmDeadband(Tank)

' Rows of ReadScaledCycles: column 0 the cycle number, 1 its time, 2 onwards the scaled values
' (channel n in column n + 1).
watched = 0
shown = 0
Do While watched < Cycles
    If vandrel.WaitForCycles(1, 40 * IntervalMs) = 0 Then Exit Do
    rows = vandrel.ReadScaledCycles(Cycles - watched)
    watched = watched + UBound(rows, 1) + 1
    level = vandrel.AlarmState(Tank)
    If level <> shown Then
        WScript.Echo "alarm " & LevelName(level) & ": " & rows(UBound(rows, 1), 1 + Tank) & " " & _
                     vandrel.ChannelUnit(Tank)
        shown = level
    End If
    ' Seen: the latch drops to the level now active and keeps what comes until the next look.
    vandrel.AcknowledgeAlarm Tank
Loop
If watched < Cycles Then WScript.Echo "no data: " & vandrel.StatusText

vandrel.Stop
Set vandrel = Nothing
WScript.Echo "done"
