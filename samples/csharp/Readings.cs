// Reads a board through the Vandrel control from C#, late bound with `dynamic`.
//
// Not run by the test suite (no .NET under Wine here): it compiles this file with Mono's mcs, as the
// user guide's build lines say, but nothing checks what it does against the control.
//
// Build with the .NET Framework compiler; /platform must match the control's bitness
// (x86 for the 32-bit control, x64 for the 64-bit one; AnyCPU runs 64-bit on 64-bit Windows):
//   csc /platform:x86 /r:Microsoft.CSharp.dll Readings.cs
// Prints the first five cycles whole (number, time, values), each once, then "done". WaitForCycles
// waits until the cycles asked for are there, handling the thread's messages meanwhile; ReadCycles
// drains the cycles that came since the last call, oldest first, as a two-dimensional array
// (row, column); lost tells how many the buffer overwrote before they were read.
using System;

static class Readings
{
    const int BoardAddress = 356;  // status port of the board (0x164)
    const int IntervalMs = 250;    // sampling interval, milliseconds
    const int Channels = 4;        // 1, 4 or 8
    const int Cycles = 5;          // cycles to print

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
            Console.Error.WriteLine("Start failed: {0}", vandrel.LastErrorText);
            return 1;
        }
        try
        {
            // Rows are cycles: column 0 the cycle number, 1 its local time, 2 onwards the values.
            // WaitForCycles returns how many wait: 0 when none came within 40 intervals.
            int printed = 0;
            while (printed < Cycles && (int)vandrel.WaitForCycles(Cycles - printed, 40 * IntervalMs) > 0)
            {
                object lost = null;
                object[,] rows = vandrel.ReadCycles(Cycles - printed, ref lost);
                if (lost != null && (int)lost > 0)
                    Console.WriteLine("{0} cycles lost: the buffer was full", lost);
                for (int row = 0; row < rows.GetLength(0); row++)
                {
                    var values = new string[rows.GetLength(1) - 2];
                    for (int column = 2; column < rows.GetLength(1); column++)
                        values[column - 2] = rows[row, column].ToString();
                    Console.WriteLine("cycle {0} at {1:HH:mm:ss.fff}: {2}", rows[row, 0], (DateTime)rows[row, 1],
                                      string.Join(" ", values));
                    printed++;
                }
            }
            if (printed < Cycles)
                Console.Error.WriteLine("no data: {0}", vandrel.StatusText);
        }
        finally
        {
            vandrel.Stop();
        }
        Console.WriteLine("done");
        return 0;
    }
}
