// Reads a board through the Vandrel control from C#, late bound with `dynamic`.
//
// Not run by the test suite (no .NET under Wine here): it compiles this file with Mono's mcs, as the
// user guide's build lines say, but nothing checks what it does against the control.
//
// Build with the .NET Framework compiler; /platform must match the control's bitness
// (x86 for the 32-bit control, x64 for the 64-bit one; AnyCPU runs 64-bit on 64-bit Windows):
//   csc /platform:x86 /r:Microsoft.CSharp.dll Readings.cs
// Prints five readings one interval apart, then "done".
using System;
using System.Diagnostics;
using System.Threading;

static class Readings
{
    const int BoardAddress = 356;  // status port of the board (0x164)
    const int IntervalMs = 250;    // sampling interval, milliseconds
    const int Channels = 4;        // 1, 4 or 8
    const short NoValue = 32767;   // GetChnlValue's answer for a bad index or a stale reading

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

        if (!vandrel.Start())
        {
            Console.Error.WriteLine("Start failed");
            return 1;
        }
        try
        {
            // Until the first cycle has been read, every channel reads 32767.
            var waited = Stopwatch.StartNew();
            while (vandrel.GetChnlValue(0) == NoValue && waited.ElapsedMilliseconds < 20 * IntervalMs)
                Thread.Sleep(10);
            for (int reading = 1; reading <= 5; reading++)
            {
                int channels = vandrel.ChannelNumber;
                var values = new short[channels];
                for (int channel = 0; channel < channels; channel++)
                    values[channel] = vandrel.GetChnlValue(channel);
                Console.WriteLine("reading {0}: {1}", reading, string.Join(" ", values));
                Thread.Sleep(IntervalMs);
            }
        }
        finally
        {
            vandrel.Stop();
        }
        Console.WriteLine("done");
        return 0;
    }
}
