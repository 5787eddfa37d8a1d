VERSION 5.00
Object = "{7AD9A13E-2E6B-4264-89E6-DBC515E57398}#1.0#0"; "Vandrel.ocx"
Begin VB.Form ChartForm
   Caption         =   "Vandrel chart"
   ClientHeight    =   6240
   ClientLeft      =   60
   ClientTop       =   450
   ClientWidth     =   9600
   LinkTopic       =   "ChartForm"
   ScaleHeight     =   6240
   ScaleWidth      =   9600
   StartUpPosition =   3  'Windows Default
   Begin VandrelLib.Vandrel Vandrel1
      Left            =   9000
      Top             =   120
      _Version        =   65536
      _ExtentX        =   847
      _ExtentY        =   847
      _StockProps     =   0
   End
   Begin VandrelLib.VandrelChart VandrelChart1
      Height          =   5400
      Left            =   120
      TabIndex        =   4
      Top             =   720
      Width           =   9360
      _Version        =   65536
      _ExtentX        =   16510
      _ExtentY        =   9525
      _StockProps     =   0
      Mode            =   0
      TimeWindow      =   10
      HistoryTime     =   60
   End
   Begin VB.CommandButton cmdStart
      Caption         =   "Start"
      Height          =   375
      Left            =   120
      TabIndex        =   0
      Top             =   180
      Width           =   1215
   End
   Begin VB.CommandButton cmdPause
      Caption         =   "Pause"
      Height          =   375
      Left            =   1440
      TabIndex        =   1
      Top             =   180
      Width           =   1215
   End
   Begin VB.CommandButton cmdSave
      Caption         =   "Save picture"
      Height          =   375
      Left            =   2760
      TabIndex        =   2
      Top             =   180
      Width           =   1455
   End
   Begin VB.Label lblStatus
      Height          =   375
      Left            =   4320
      TabIndex        =   3
      Top             =   240
      Width           =   4575
   End
End
Attribute VB_Name = "ChartForm"
Attribute VB_GlobalNameSpace = False
Attribute VB_Creatable = False
Attribute VB_PredeclaredId = True
Attribute VB_Exposed = False
' NOT RUN BY THE TEST SUITE (no VB6 under Wine): documented sample, checked by hand only.
'
' A VB6 form that shows a board's cycles live with the Vandrel chart. Open Chart.vbp in VB6 (the
' control must be registered: VB6 programs are 32-bit, so the x86 control) and press F5. The form
' holds a Vandrel control (invisible while the program runs) and a chart; the chart's mode and time
' window are saved in this file, as the chart's "Chart" property page sets them at design time.
' The source is never saved with a form: Form_Load binds it, then starts sampling.
'
' Pause, a click on the chart or the space bar freezes the picture while the cycles go on; the
' mouse over the chart reads out the time and the values there.
Option Explicit

Private Const BoardAddress As Long = 356   ' status port of the board (0x164)
Private Const IntervalMs As Long = 20      ' sampling interval, milliseconds
Private Const Channels As Long = 4         ' 1, 4 or 8

Private Sub Form_Load()
    Vandrel1.Address = BoardAddress
    Vandrel1.Interval = IntervalMs
    Vandrel1.ChannelNumber = Channels

    ' Vandrel1 here is VB's wrapper around the control (its extender); the chart finds the control
    ' inside. Raw counts on all four channels, so the axis is the board's full range.
    Set VandrelChart1.Source = Vandrel1
    VandrelChart1.SetRange -32767, 32767
    If Not Vandrel1.Start() Then
        lblStatus.Caption = "Start failed: " & Vandrel1.LastErrorText
        Exit Sub
    End If
    cmdStart.Caption = "Stop"
End Sub

' The chart takes the form's width and the height below the buttons.
Private Sub Form_Resize()
    If WindowState = vbMinimized Then Exit Sub
    If ScaleWidth > 240 And ScaleHeight > 840 Then
        VandrelChart1.Move 120, 720, ScaleWidth - 240, ScaleHeight - 840
    End If
End Sub

Private Sub cmdStart_Click()
    If Vandrel1.Status = vdStopped Or Vandrel1.Status = vdStartFailed Then
        If Not Vandrel1.Start() Then
            MsgBox "Start failed: " & Vandrel1.LastErrorText, vbExclamation
            Exit Sub
        End If
        cmdStart.Caption = "Stop"
    Else
        Vandrel1.Stop
        cmdStart.Caption = "Start"
    End If
End Sub

' A click on the chart and the space bar pause it too: the event below keeps the button's caption.
Private Sub cmdPause_Click()
    VandrelChart1.Paused = Not VandrelChart1.Paused
End Sub

Private Sub VandrelChart1_PausedChanged(ByVal bPaused As Boolean)
    cmdPause.Caption = IIf(bPaused, "Resume", "Pause")
End Sub

' The picture as the form shows it, beside the program; a file that exists is replaced.
' VandrelChart1.CopyPicture puts it on the clipboard instead.
Private Sub cmdSave_Click()
    On Error GoTo Failed
    VandrelChart1.SavePicture App.Path & "\chart.png"
    lblStatus.Caption = "Saved " & App.Path & "\chart.png"
    Exit Sub
Failed:
    MsgBox Err.Description, vbExclamation
End Sub

Private Sub Vandrel1_StatusChanged(ByVal nStatus As Long)
    lblStatus.Caption = Vandrel1.StatusText
End Sub

Private Sub Form_Unload(Cancel As Integer)
    Vandrel1.Stop
    Set VandrelChart1.Source = Nothing
End Sub
