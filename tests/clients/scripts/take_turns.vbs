' One of two processes that sample the board at once: samples for a while, then saves this
' process's board access log. Arguments: the log file, the seconds to sample.
' The last line, "END", shows that the script ran to its end.
Option Explicit
Dim board, v, started
Set board = CreateObject("Vandrel.BoardLog")
board.StartLog 100000
Set v = CreateObject("VANDREL.VandrelCtrl.1")
v.Interval = 300
started = v.Start()
WScript.Echo "start " & started
board.Pause CLng(WScript.Arguments(1)) * 1000
v.Stop
WScript.Echo "saved " & (board.Save(WScript.Arguments(0)) > 0)
WScript.Echo "END"
