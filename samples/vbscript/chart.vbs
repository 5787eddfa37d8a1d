' Draws a board's cycles with the Vandrel chart, from VBScript, and saves the picture as a PNG file.
' Run: cscript //nologo chart.vbs
' Use the cscript of the control's bitness: on 64-bit Windows C:\Windows\System32\cscript.exe for
' the 64-bit control, C:\Windows\SysWOW64\cscript.exe for the 32-bit one.
'
' A script host shows no controls, so this chart has no window: it still watches every cycle of the
' control it is bound to, and SavePicture draws them into chart.png beside this script, at the
' chart's default size of 100 x 50 pixels. The chart watches through a queue of its own, so the
' script reads every cycle itself as well (ReadCycles), and neither takes cycles from the other.
' DroppedCycles counts the cycles the chart missed because it fell too far behind: 0 here. The last
' line, "done", shows that the script ran to its end.
Option Explicit

Const BoardAddress = 356    ' status port of the board (0x164)
Const IntervalMs = 20       ' sampling interval, milliseconds
Const Channels = 4          ' 1, 4 or 8
Const Cycles = 100          ' cycles to run for: two seconds

Dim vandrel, chart, rows, taken, folder, fso, path
Set vandrel = CreateObject("VANDREL.VandrelCtrl.1")
vandrel.Address = BoardAddress
vandrel.Interval = IntervalMs
vandrel.ChannelNumber = Channels
WScript.Echo "Vandrel at port " & vandrel.Address & ", " & vandrel.ChannelNumber & _
             " channels, every " & vandrel.Interval & " ms"

' A script passes the object it created. The chart scales each channel by the control's channel
' settings (raw counts here) and draws the last TimeWindow seconds; the value axis stays at the
' board's full range.
Set chart = CreateObject("VANDREL.VandrelChart.1")
Set chart.Source = vandrel
chart.TimeWindow = 2
chart.SetRange -32767, 32767
WScript.Echo "chart of the last " & chart.TimeWindow & " s, from " & chart.RangeMinimum & " to " & _
             chart.RangeMaximum

If Not vandrel.Start() Then
    WScript.Echo "Start failed: " & vandrel.LastErrorText
    WScript.Quit 1
End If
taken = 0
Do While taken < Cycles
    If vandrel.WaitForCycles(Cycles - taken, 40 * IntervalMs) = 0 Then Exit Do
    rows = vandrel.ReadCycles(Cycles - taken)
    taken = taken + UBound(rows, 1) + 1
Loop
vandrel.Stop
WScript.Echo "the script read " & taken & " cycles, the chart dropped " & chart.DroppedCycles

' The picture shows what the chart holds now; a file that exists is replaced.
Set fso = CreateObject("Scripting.FileSystemObject")
folder = fso.GetParentFolderName(WScript.ScriptFullName)
path = fso.BuildPath(folder, "chart.png")
chart.SavePicture path
WScript.Echo "saved chart.png, " & fso.GetFile(path).Size & " bytes"

' Unbinding lets go of the control; so does releasing the chart.
Set chart.Source = Nothing
Set chart = Nothing
Set vandrel = Nothing
WScript.Echo "done"
