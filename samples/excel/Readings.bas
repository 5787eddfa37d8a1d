Attribute VB_Name = "Readings"
' NOT RUN BY THE TEST SUITE (no Excel under Wine): documented sample, checked by hand only.
'
' An Excel VBA module that writes five whole cycles of the Vandrel control into the active sheet and
' records every cycle to a CSV file beside the workbook. Import it in the VBA editor
' (File > Import File...) and run ReadBoard (Alt+F8).
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
Private Const Cycles As Long = 5           ' cycles to write into the sheet

Public Sub ReadBoard()
    Dim vandrel As Object, sheet As Worksheet
    Dim block As Variant, lost As Long, channel As Long, tries As Long, folder As String

    Set sheet = ActiveSheet
    Set vandrel = CreateObject("VANDREL.VandrelCtrl.1")
    vandrel.Address = BoardAddress
    vandrel.Interval = IntervalMs
    vandrel.ChannelNumber = Channels

    ' Every cycle from now on also goes to readings.csv beside the workbook (a new workbook that was
    ' never saved has no folder: then the user's temporary folder). An existing file is appended to.
    folder = ThisWorkbook.Path
    If folder = "" Then folder = Environ$("TEMP")
    vandrel.RecordFile = folder & "\readings.csv"

    If Not vandrel.Start() Then
        MsgBox "Start failed: " & vandrel.LastErrorText, vbExclamation
        vandrel.RecordFile = ""
        Exit Sub
    End If

    ' H1 shows channel 0's latest reading while the cycles come in, as a live display would
    ' (32767 until the first cycle). WaitForCycles keeps Excel responsive while it waits.
    sheet.Range("G1").Value = "ch0 now"
    Do While vandrel.UnreadCycles < Cycles And tries < 40
        sheet.Range("H1").Value = vandrel.GetChnlValue(0)
        vandrel.WaitForCycles vandrel.UnreadCycles + 1, 2 * IntervalMs
        tries = tries + 1
    Loop

    ' The header, then the cycles whole, one row each, in one assignment: column A the cycle
    ' number, B its time (to the millisecond), C onwards the channel values.
    sheet.Range("A1:B1").Value = Array("cycle", "time")
    For channel = 0 To Channels - 1
        sheet.Cells(1, channel + 3).Value = "ch" & channel
    Next
    block = vandrel.ReadCycles(Cycles, lost)
    If UBound(block, 1) >= 0 Then
        sheet.Range("A2").Resize(UBound(block, 1) + 1, UBound(block, 2) + 1).Value = block
        sheet.Range("B2").Resize(UBound(block, 1) + 1, 1).NumberFormat = "yyyy-mm-dd hh:mm:ss.000"
    Else
        MsgBox "No data: " & vandrel.StatusText, vbExclamation
    End If

    ' Stop first, so that the file gets every cycle; clearing RecordFile closes it, complete.
    vandrel.Stop
    sheet.Range("G2").Value = "recorded to"
    sheet.Range("H2").Value = vandrel.RecordFile
    sheet.Range("G3").Value = "lost by the recording"
    sheet.Range("H3").Value = vandrel.RecordLost
    vandrel.RecordFile = ""
    Set vandrel = Nothing
End Sub
