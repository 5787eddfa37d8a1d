' Reads a board through the Vandrel control from VBScript.
' Run: cscript //nologo readings.vbs
' Use the cscript of the control's bitness: on 64-bit Windows C:\Windows\System32\cscript.exe for
' the 64-bit control, C:\Windows\SysWOW64\cscript.exe for the 32-bit one.
'
' Sets the board's status port, the sampling interval and the channel count, starts sampling,
' prints the first five cycles whole (number, time, values), each once, and stops. WaitForCycles
' waits until the cycles asked for are there (handling the script host's messages meanwhile), and
' ReadCycles drains the cycles that came since the last call, oldest first, so none is missed or
' read twice however late the script looks. The last line, "done", shows that the script ran to
' its end: cscript may end an erroneous script without a message.
Option Explicit

Const BoardAddress = 356    ' status port of the board (0x164)
Const IntervalMs = 250      ' sampling interval, milliseconds
Const Channels = 4          ' 1, 4 or 8
Const Cycles = 5            ' cycles to print

' hh:mm:ss.fff of a cycle's time, a Date that carries the milliseconds.
Function TimeText(t)
    Dim ms
    ms = Round((t - Int(t)) * 86400000)
    TimeText = Right("0" & ms \ 3600000, 2) & ":" & Right("0" & (ms \ 60000) Mod 60, 2) & ":" & _
               Right("0" & (ms \ 1000) Mod 60, 2) & "." & Right("00" & ms Mod 1000, 3)
End Function

Dim vandrel, rows, row, column, line, lost, printed
Set vandrel = CreateObject("VANDREL.VandrelCtrl.1")
vandrel.Address = BoardAddress
vandrel.Interval = IntervalMs
vandrel.ChannelNumber = Channels
WScript.Echo "Vandrel at port " & vandrel.Address & ", " & vandrel.ChannelNumber & _
             " channels, every " & vandrel.Interval & " ms"

If Not vandrel.Start() Then
    WScript.Echo "Start failed: " & vandrel.LastErrorText
    WScript.Quit 1
End If

' Rows are cycles: column 0 the cycle number, 1 its time, 2 onwards the channel values.
' WaitForCycles returns how many wait: 0 when none came within 40 intervals.
printed = 0
Do While printed < Cycles
    If vandrel.WaitForCycles(Cycles - printed, 40 * IntervalMs) = 0 Then Exit Do
    rows = vandrel.ReadCycles(Cycles - printed, lost)
    If lost > 0 Then WScript.Echo lost & " cycles lost: the buffer was full"
    For row = 0 To UBound(rows, 1)
        line = "cycle " & rows(row, 0) & " at " & TimeText(rows(row, 1)) & ":"
        For column = 2 To UBound(rows, 2)
            line = line & " " & rows(row, column)
        Next
        WScript.Echo line
        printed = printed + 1
    Next
Loop
If printed < Cycles Then WScript.Echo "no data: " & vandrel.StatusText

vandrel.Stop
Set vandrel = Nothing
WScript.Echo "done"
