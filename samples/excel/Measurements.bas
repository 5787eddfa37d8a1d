Attribute VB_Name = "Measurements"
' NOT RUN BY THE TEST SUITE (no Excel under Wine): documented sample, checked by hand only.
'
' With the class module TankWatch.cls: watches channel 1 of the Vandrel control as a tank's
' pressure, shows it live and writes every alarm the control tells into the active sheet. Import
' both files in the VBA editor (File > Import File...), check Tools > References > "Vandrel ActiveX"
' (an event handler needs the type library), and run WatchTank (Alt+F8).
Option Explicit

Public Sub WatchTank()
    Dim watch As New TankWatch
    watch.Run ActiveSheet
End Sub
