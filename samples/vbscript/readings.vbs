' Reads a board through the Vandrel control from VBScript.
' Run: cscript //nologo readings.vbs
' Use the cscript of the control's bitness: on 64-bit Windows C:\Windows\System32\cscript.exe for
' the 64-bit control, C:\Windows\SysWOW64\cscript.exe for the 32-bit one.
'
' Sets the board's status port, the sampling interval and the channel count, starts sampling,
' prints five readings one interval apart and stops. The last line, "done", shows that the script
' ran to its end: cscript may end an erroneous script without a message.
Option Explicit

Const BoardAddress = 356    ' status port of the board (0x164)
Const IntervalMs = 250      ' sampling interval, milliseconds
Const Channels = 4          ' 1, 4 or 8
Const NoValue = 32767       ' what GetChnlValue returns for a bad index or a stale reading

' Waits without WScript.Sleep, which not every script host offers; Timer wraps at midnight.
Sub WaitMs(ms)
    Dim since, elapsed
    since = Timer
    Do
        elapsed = Timer - since
        If elapsed < 0 Then elapsed = elapsed + 86400
    Loop While elapsed * 1000 < ms
End Sub

Dim vandrel, reading, channel, line, waited
Set vandrel = CreateObject("VANDREL.VandrelCtrl.1")
vandrel.Address = BoardAddress
vandrel.Interval = IntervalMs
vandrel.ChannelNumber = Channels
WScript.Echo "Vandrel at port " & vandrel.Address & ", " & vandrel.ChannelNumber & _
             " channels, every " & vandrel.Interval & " ms"

If Not vandrel.Start() Then
    WScript.Echo "Start failed"
    WScript.Quit 1
End If

' Until the first cycle has been read, every channel reads 32767.
waited = 0
Do While vandrel.GetChnlValue(0) = NoValue And waited < 20 * IntervalMs
    WaitMs 10
    waited = waited + 10
Loop

For reading = 1 To 5
    line = "reading " & reading & ":"
    For channel = 0 To vandrel.ChannelNumber - 1
        line = line & " " & vandrel.GetChnlValue(channel)
    Next
    WScript.Echo line
    WaitMs IntervalMs
Next

vandrel.Stop
Set vandrel = Nothing
WScript.Echo "done"
