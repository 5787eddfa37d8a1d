' A VBScript client of the registered Vandrel control: late bound, by name. One line per check;
' the last line, "END", shows that the script ran to its end (cscript ends silently on an error).
Option Explicit

Function Elapsed(since)
    Elapsed = Timer - since
    If Elapsed < 0 Then Elapsed = Elapsed + 86400
End Function

Dim v, i, line, since
Set v = CreateObject("VANDREL.VandrelCtrl.1")
WScript.Echo "defaults " & v.Interval & " " & v.Address & " " & v.ChannelNumber

v.Interval = 50
v.ChannelNumber = 4
v.ChannelNumber = 3
WScript.Echo "settings " & v.Interval & " " & v.Address & " " & v.ChannelNumber

WScript.Echo "start " & v.Start()
WScript.Echo "start again " & v.Start()

since = Timer
Do While v.GetChnlValue(0) = 32767 And Elapsed(since) < 5
Loop
line = "values"
For i = 0 To v.ChannelNumber - 1
    line = line & " " & v.GetChnlValue(i)
Next
WScript.Echo line
WScript.Echo "outside " & v.GetChnlValue(-1) & " " & v.GetChnlValue(4)

v.Stop
WScript.Echo "stopped " & v.Start() & " " & v.Start()
v.Stop
Set v = Nothing
WScript.Echo "END"
