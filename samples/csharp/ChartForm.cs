// Shows a board's cycles live with the Vandrel chart in a Windows Forms window, from C#.
//
// Not run by the test suite (no .NET under Wine here): it compiles this file with Mono's mcs, as the
// user guide's build lines say, but nothing checks what it does against the control.
//
// Build with the .NET Framework compiler; /platform must match the control's bitness:
//   csc /platform:x86 /target:winexe /r:Microsoft.CSharp.dll /r:System.Windows.Forms.dll /r:System.Drawing.dll ChartForm.cs
// No interop assemblies are needed (no aximp, no reference to Vandrel.ocx): the two small AxHost
// classes below place the controls on the form by their class IDs, and the program calls them late
// bound through `dynamic` on GetOcx(), the control inside each host. The chart's Source takes that
// inner control, vandrel.GetOcx(); the AxHost itself is refused ("Source must be a Vandrel control,
// or Nothing. In C#, pass the control's GetOcx()."). Controls need a single-threaded apartment,
// hence [STAThread] on Main.
//
// Pause, a click on the chart or the space bar freezes the picture while the cycles go on; the mouse
// over the chart reads out the time and the values there. The chart's PausedChanged event reaches
// the sink below through IConnectionPointContainer, as in Measurements.cs.
using System;
using System.Drawing;
using System.Runtime.InteropServices;
using System.Runtime.InteropServices.ComTypes;
using System.Windows.Forms;

// VANDREL.VandrelCtrl.1, invisible while the program runs.
class AxVandrel : AxHost
{
    public AxVandrel() : base("e4de41e5-20f5-4a71-91c1-bc0686540acf") { }
}

// VANDREL.VandrelChart.1.
class AxVandrelChart : AxHost
{
    public AxVandrelChart() : base("af7ff62e-e0f0-4dc0-b3de-e004729c2a1d") { }
}

// The chart's event interface, _DVandrelChartEvents: a dispatch interface, called by DISPID.
[ComImport, Guid("EE868399-0774-4BA5-9E5F-E6B530A8939C"), InterfaceType(ComInterfaceType.InterfaceIsIDispatch)]
public interface IVandrelChartEvents
{
    [DispId(1)] void PausedChanged(bool bPaused);
}

[ComVisible(true), ClassInterface(ClassInterfaceType.None)]
public class PauseSink : IVandrelChartEvents
{
    public Action<bool> Changed;

    public void PausedChanged(bool bPaused) { Changed(bPaused); }
}

class ChartForm : Form
{
    const int BoardAddress = 356;  // status port of the board (0x164)
    const int IntervalMs = 20;     // sampling interval, milliseconds
    const int Channels = 4;        // 1, 4 or 8

    readonly AxVandrel vandrelHost = new AxVandrel();
    readonly AxVandrelChart chartHost = new AxVandrelChart();
    readonly Button startButton = new Button { Text = "Stop", AutoSize = true };
    readonly Button pauseButton = new Button { Text = "Pause", AutoSize = true };
    readonly Button saveButton = new Button { Text = "Save picture...", AutoSize = true };
    readonly Label status = new Label { AutoSize = true, Padding = new Padding(0, 6, 0, 0) };
    dynamic vandrel, chart;
    IConnectionPoint point;
    int cookie;

    ChartForm()
    {
        Text = "Vandrel chart";
        ClientSize = new Size(720, 440);
        var bar = new FlowLayoutPanel { Dock = DockStyle.Top, AutoSize = true };
        bar.Controls.AddRange(new Control[] { startButton, pauseButton, saveButton, status });
        chartHost.Dock = DockStyle.Fill;

        // An AxHost creates its control once it is initialised on a form; the Vandrel control,
        // invisible at run time, takes no room there.
        foreach (AxHost host in new AxHost[] { vandrelHost, chartHost })
            ((System.ComponentModel.ISupportInitialize)host).BeginInit();
        Controls.Add(chartHost);
        Controls.Add(bar);
        Controls.Add(vandrelHost);
        foreach (AxHost host in new AxHost[] { vandrelHost, chartHost })
            ((System.ComponentModel.ISupportInitialize)host).EndInit();

        startButton.Click += (s, e) => StartOrStop();
        pauseButton.Click += (s, e) => chart.Paused = !chart.Paused;
        saveButton.Click += (s, e) => SavePicture();
    }

    protected override void OnLoad(EventArgs e)
    {
        base.OnLoad(e);
        vandrel = vandrelHost.GetOcx();
        chart = chartHost.GetOcx();
        vandrel.Address = BoardAddress;
        vandrel.Interval = IntervalMs;
        vandrel.ChannelNumber = Channels;

        // Raw counts on all four channels, so the axis is the board's full range.
        chart.Source = vandrelHost.GetOcx();
        chart.TimeWindow = 10.0;
        chart.SetRange(-32767.0, 32767.0);

        // A click on the chart and the space bar pause it too: the sink keeps the button's text.
        var sink = new PauseSink { Changed = paused => pauseButton.Text = paused ? "Resume" : "Pause" };
        Guid events = typeof(IVandrelChartEvents).GUID;
        ((IConnectionPointContainer)chartHost.GetOcx()).FindConnectionPoint(ref events, out point);
        point.Advise(sink, out cookie);

        if (!vandrel.Start())
            startButton.Text = "Start";
        status.Text = vandrel.StatusText;
    }

    void StartOrStop()
    {
        if ((int)vandrel.Status == 0 || (int)vandrel.Status == 6)  // vdStopped, vdStartFailed
        {
            if (vandrel.Start())
                startButton.Text = "Stop";
        }
        else
        {
            vandrel.Stop();
            startButton.Text = "Start";
        }
        status.Text = vandrel.StatusText;
    }

    // The picture as the window shows it, as a PNG file. chart.CopyPicture() puts it on the clipboard.
    void SavePicture()
    {
        using (var dialog = new SaveFileDialog { Filter = "PNG picture (*.png)|*.png", FileName = "chart.png" })
        {
            if (dialog.ShowDialog(this) != DialogResult.OK)
                return;
            try
            {
                chart.SavePicture(dialog.FileName);
            }
            catch (COMException ex)
            {
                MessageBox.Show(this, ex.Message, Text, MessageBoxButtons.OK, MessageBoxIcon.Warning);
            }
        }
    }

    // Stop sampling and let the chart go of the control before the controls go.
    protected override void OnFormClosed(FormClosedEventArgs e)
    {
        if (point != null)
            point.Unadvise(cookie);
        if (vandrel != null)
            vandrel.Stop();
        if (chart != null)
            chart.Source = null;
        base.OnFormClosed(e);
    }

    [STAThread]
    static void Main()
    {
        Application.EnableVisualStyles();
        Application.Run(new ChartForm());
    }
}
