' One of two processes that sample the board at once: samples for a while, then saves this
' process's board access log. Arguments: the log file, the seconds to sample.
' The last line, "END", shows that the script ran to its end; a failing step says which it was.
Option Explicit
On Error Resume Next

Sub Check(stepName)
    If Err.Number <> 0 Then
        WScript.Echo "failed: " & stepName & " (0x" & Hex(Err.Number) & ") " & Err.Description
        WScript.Quit 1
    End If
End Sub

Dim board, v, started, saved
Set board = CreateObject("Vandrel.BoardLog")
Check "creating Vandrel.BoardLog"
board.StartLog 100000
Check "StartLog"
Set v = CreateObject("VANDREL.VandrelCtrl.1")
Check "creating VANDREL.VandrelCtrl.1"
v.Interval = 300
started = v.Start()
Check "Start"
WScript.Echo "start " & started
board.Pause CLng(WScript.Arguments(1)) * 1000
Check "Pause"
v.Stop
Check "Stop"
saved = board.Save(WScript.Arguments(0))
Check "Save"
WScript.Echo "saved " & (saved > 0)
WScript.Echo "END"
