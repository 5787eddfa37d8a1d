Attribute VB_Name = "Readings"
' NOT RUN BY THE TEST SUITE (no Excel under Wine): documented sample, checked by hand only.
'
' An Excel VBA module that writes five readings of the Vandrel control into the active sheet.
' Import it in the VBA editor (File > Import File...) and run ReadBoard (Alt+F8).
' The control's bitness must match Excel's: 32-bit Office needs the x86 control, 64-bit Office the
' x64 one (File > Account > About Excel says which).
'
' Late bound, so no reference is needed. With Tools > References > "Vandrel ActiveX" checked,
' "Dim vandrel As VandrelLib.Vandrel" binds early (names checked when compiling, IntelliSense);
' keep CreateObject to create it.
Option Explicit

Private Const BoardAddress As Long = 356   ' status port of the board (0x164)
Private Const IntervalMs As Long = 250     ' sampling interval, milliseconds
Private Const Channels As Long = 4         ' 1, 4 or 8
Private Const NoValue As Integer = 32767   ' bad index or stale reading

Private Sub WaitMs(ByVal ms As Long)
    Dim since As Single
    since = Timer
    Do While (Timer - since) * 1000 < ms And Timer >= since
        DoEvents
    Loop
End Sub

Public Sub ReadBoard()
    Dim vandrel As Object
    Dim reading As Long, channel As Long, waited As Long

    Set vandrel = CreateObject("VANDREL.VandrelCtrl.1")
    vandrel.Address = BoardAddress
    vandrel.Interval = IntervalMs
    vandrel.ChannelNumber = Channels
    If Not vandrel.Start() Then
        MsgBox "Start failed", vbExclamation
        Exit Sub
    End If

    ' Until the first cycle has been read, every channel reads 32767.
    Do While vandrel.GetChnlValue(0) = NoValue And waited < 20 * IntervalMs
        WaitMs 10
        waited = waited + 10
    Loop

    For channel = 0 To vandrel.ChannelNumber - 1
        ActiveSheet.Cells(1, channel + 2).Value = "ch" & channel
    Next
    For reading = 1 To 5
        ActiveSheet.Cells(reading + 1, 1).Value = reading
        For channel = 0 To vandrel.ChannelNumber - 1
            ActiveSheet.Cells(reading + 1, channel + 2).Value = vandrel.GetChnlValue(channel)
        Next
        WaitMs IntervalMs
    Next

    vandrel.Stop
    Set vandrel = Nothing
End Sub
