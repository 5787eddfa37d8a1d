' NOT RUN BY THE TEST SUITE (no Excel under Wine): documented sample, checked by hand only.
'
' The code of an Excel user form that shows a board's cycles live with the Vandrel chart. A form is
' made in the VBA editor, not imported from this file: this is the text to paste into its code.
'
' 1. In the VBA editor (Alt+F11): Insert > UserForm. Make it about 480 x 320 points.
' 2. Tools > Additional Controls...: tick "Vandrel Control" and "Vandrel Chart". Both appear in the
'    Toolbox. (Excel and the control must be of the same bitness, see the user guide.)
' 3. Draw on the form, keeping the names the editor gives or setting them in the Properties window:
'      - a Vandrel Control, Vandrel1 (anywhere: it is invisible while the form runs);
'      - a Vandrel Chart, VandrelChart1, large: the chart draws at the size it has on the form;
'      - three CommandButtons, StartButton, PauseButton and SaveButton;
'      - a Label, StatusLabel, wide enough for a sentence.
' 4. Right-click the form, View Code, and paste everything below the line of dashes.
' 5. Run with F5. Start begins sampling; Pause, a click on the chart or the space bar freezes the
'    picture while the cycles go on; the mouse over the chart reads out the time and values there.
'
' The chart's settings (mode, time window, range, colours) can also be set at design time on its
' "Chart" property page (right-click it, Properties); the form saves them. The source cannot be saved
' with a form: the form binds it when it starts, below.
' ---------------------------------------------------------------------------------------------------
Option Explicit

Private Const BoardAddress As Long = 356   ' status port of the board (0x164)
Private Const IntervalMs As Long = 20      ' sampling interval, milliseconds
Private Const Channels As Long = 4         ' 1, 4 or 8

Private Sub UserForm_Initialize()
    Vandrel1.Address = BoardAddress
    Vandrel1.Interval = IntervalMs
    Vandrel1.ChannelNumber = Channels

    ' Channel 1 in bar: full scale, 32767, is 10 bar. The chart labels it with the name and unit,
    ' draws the high limit as a dashed line and shades the time the channel spends in alarm.
    Vandrel1.ChannelName(1) = "Pressure"
    Vandrel1.ChannelUnit(1) = "bar"
    Vandrel1.ChannelGain(1) = 10 / 32767
    Vandrel1.HighLimit(1) = 8

    ' Vandrel1 here is the form's wrapper around the control; the chart finds the control inside.
    Set VandrelChart1.Source = Vandrel1
    VandrelChart1.Mode = vdChartStrip       ' vdChartScope sweeps instead of scrolling
    VandrelChart1.TimeWindow = 10           ' seconds across the chart
    VandrelChart1.SetRange -10, 10          ' a fixed axis; AutoRange = True follows the values
    ' Channels 2 to 4 are raw counts, far off this axis: leave them out of the picture.
    VandrelChart1.ChannelVisible(2) = False
    VandrelChart1.ChannelVisible(3) = False
    VandrelChart1.ChannelVisible(4) = False
    VandrelChart1.ChannelColor(1) = RGB(200, 0, 0)   ' red; RGB() or a system colour

    StartButton.Caption = "Start"
    PauseButton.Caption = "Pause"
    SaveButton.Caption = "Save picture..."
    StatusLabel.Caption = Vandrel1.StatusText
End Sub

Private Sub StartButton_Click()
    If Vandrel1.Status = vdStopped Or Vandrel1.Status = vdStartFailed Then
        If Not Vandrel1.Start() Then
            MsgBox "Start failed: " & Vandrel1.LastErrorText, vbExclamation
            Exit Sub
        End If
        StartButton.Caption = "Stop"
    Else
        Vandrel1.Stop
        StartButton.Caption = "Start"
    End If
End Sub

' A click on the chart and the space bar pause it too: the event below keeps the button's caption.
Private Sub PauseButton_Click()
    VandrelChart1.Paused = Not VandrelChart1.Paused
End Sub

Private Sub VandrelChart1_PausedChanged(ByVal bPaused As Boolean)
    PauseButton.Caption = IIf(bPaused, "Resume", "Pause")
End Sub

' The picture as the form shows it, as a PNG file. VandrelChart1.CopyPicture puts it on the
' clipboard instead, for ActiveSheet.Paste.
Private Sub SaveButton_Click()
    Dim path As Variant
    path = Application.GetSaveAsFilename("chart.png", "PNG picture (*.png), *.png")
    If VarType(path) = vbBoolean Then Exit Sub   ' cancelled
    On Error GoTo Failed
    VandrelChart1.SavePicture path
    Exit Sub
Failed:
    MsgBox Err.Description, vbExclamation
End Sub

Private Sub Vandrel1_StatusChanged(ByVal nStatus As Long)
    StatusLabel.Caption = Vandrel1.StatusText
End Sub

' Stop sampling and let the chart go of the control before the form goes.
Private Sub UserForm_QueryClose(Cancel As Integer, CloseMode As Integer)
    Vandrel1.Stop
    Set VandrelChart1.Source = Nothing
End Sub
