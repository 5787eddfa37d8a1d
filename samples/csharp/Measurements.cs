// Turns channel 1 of a board into a measurement through the Vandrel control, from C#: late bound
// with `dynamic`, and told of alarms by the control's AlarmChanged event.
//
// Not run by the test suite (no .NET under Wine here): it compiles this file with Mono's mcs, as the
// user guide's build lines say, but nothing checks what it does against the control.
//
// Build with the .NET Framework compiler; /platform must match the control's bitness:
//   csc /platform:x86 /r:Microsoft.CSharp.dll Measurements.cs
// Names channel 1 (GetChnlValue(0), ch0 in a record file), gives it a unit and a scale, zeroes it,
// sets a high limit with a deadband and a low limit, and watches it for a few cycles. The sink
// below is connected to the control's event interface; the control calls it on this thread while
// the program handles messages, which WaitForCycles does while it waits. Properties that take a
// channel are indexed: vandrel.HighLimit[1] = 1500; DBNull.Value is Null (no limit, no value).
using System;
using System.Runtime.InteropServices;
using System.Runtime.InteropServices.ComTypes;

// The control's event interface, _DVandrelEvents: a dispatch interface, called by DISPID.
[ComImport, Guid("0CCC30C5-82DB-4870-8B3A-F7E005ABC32E"), InterfaceType(ComInterfaceType.InterfaceIsIDispatch)]
public interface IVandrelEvents
{
    [DispId(1)] void DataReady(int nCycle);
    [DispId(2)] void StatusChanged(int nStatus);
    [DispId(3)] void AlarmChanged(int nChannel, int nLevel, double dValue, int nCycle, DateTime dTime);
}

[ComVisible(true), ClassInterface(ClassInterfaceType.None)]
public class AlarmSink : IVandrelEvents
{
    static readonly string[] Levels = { "low-low", "low", "none", "high", "high-high" };

    public string Unit = "";

    public void DataReady(int nCycle) { }
    public void StatusChanged(int nStatus) { }

    // Every change of a channel's alarm level, in order, with the value and cycle that changed it.
    public void AlarmChanged(int nChannel, int nLevel, double dValue, int nCycle, DateTime dTime)
    {
        Console.WriteLine("cycle {0} at {1:HH:mm:ss.fff}: channel {2} alarm {3}, {4} {5}", nCycle, dTime, nChannel,
                          Levels[nLevel + 2], dValue, Unit);
    }
}

static class Measurements
{
    const int BoardAddress = 356;  // status port of the board (0x164)
    const int IntervalMs = 250;    // sampling interval, milliseconds
    const int Channels = 4;        // 1, 4 or 8
    const int Cycles = 8;          // cycles to watch
    const int Tank = 1;            // the channel, 1 to 8

    [STAThread]
    static int Main()
    {
        Type type = Type.GetTypeFromProgID("VANDREL.VandrelCtrl.1");
        if (type == null)
        {
            Console.Error.WriteLine("The Vandrel control is not registered for this bitness.");
            return 1;
        }
        dynamic vandrel = Activator.CreateInstance(type);
        vandrel.Address = BoardAddress;
        vandrel.Interval = IntervalMs;
        vandrel.ChannelNumber = Channels;
        Console.WriteLine("Vandrel at port {0}, {1} channels, every {2} ms",
                          vandrel.Address, vandrel.ChannelNumber, vandrel.Interval);

        // A pressure sensor whose data sheet gives two points: raw 0 is 0 mbar, raw 1000 is 500 mbar.
        // A unit may be any text: "°C", "µm".
        vandrel.ChannelName[Tank] = "Tank";
        vandrel.ChannelUnit[Tank] = "mbar";
        vandrel.Calibrate(Tank, 0.0, 0.0, 1000.0, 500.0);

        var sink = new AlarmSink { Unit = vandrel.ChannelUnit[Tank] };
        var container = (IConnectionPointContainer)(object)vandrel;
        Guid events = typeof(IVandrelEvents).GUID;
        IConnectionPoint point;
        container.FindConnectionPoint(ref events, out point);
        int cookie;
        point.Advise(sink, out cookie);

        if (!vandrel.Start())
        {
            Console.Error.WriteLine("Start failed: {0}", vandrel.LastErrorText);
            point.Unadvise(cookie);
            return 1;
        }
        try
        {
            if ((int)vandrel.WaitForCycles(1, 40 * IntervalMs) == 0)
            {
                Console.Error.WriteLine("no data: {0}", vandrel.StatusText);
                return 1;
            }
            object value = vandrel.ChannelValue(Tank);
            Console.WriteLine("{0} reads {1} {2}", vandrel.ChannelName[Tank], value is DBNull ? "nothing" : value,
                              sink.Unit);

            // The tank is empty now: what it reads becomes 0. The cycles from before the zero, not
            // yet read, are dropped.
            Console.WriteLine("zeroed: offset {0}", (double)vandrel.ZeroChannel(Tank));
            vandrel.ReadCycles(1000);

            // High at 1500 mbar or more, cleared again below 1495; low at 50 mbar or less, cleared above 55;
            // either only once the value has stayed beyond its limit for half a second.
            vandrel.AlarmDeadband[Tank] = 5.0;
            vandrel.AlarmDelay[Tank] = 500;
            vandrel.HighLimit[Tank] = 1500.0;
            vandrel.LowLimit[Tank] = 50.0;

            // AlarmChanged fires while WaitForCycles handles messages; the cycles are read and dropped.
            int watched = 0;
            while (watched < Cycles && (int)vandrel.WaitForCycles(Cycles - watched, 40 * IntervalMs) > 0)
            {
                object[,] rows = vandrel.ReadScaledCycles(Cycles - watched);
                watched += rows.GetLength(0);
            }
            if (watched < Cycles)
                Console.Error.WriteLine("no data: {0}", vandrel.StatusText);
            Console.WriteLine("alarm state now {0}, {1} changes lost", (int)vandrel.AlarmState[Tank],
                              (int)vandrel.AlarmsLost);
        }
        finally
        {
            vandrel.Stop();
            point.Unadvise(cookie);
        }
        Console.WriteLine("done");
        return 0;
    }
}
