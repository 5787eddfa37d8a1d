// Reads a board through the Vandrel control from JScript.
// Run: cscript //nologo readings.js
// Use the cscript of the control's bitness: on 64-bit Windows C:\Windows\System32\cscript.exe for
// the 64-bit control, C:\Windows\SysWOW64\cscript.exe for the 32-bit one.
//
// Sets the board's status port, the sampling interval and the channel count, starts sampling,
// prints the first five cycles whole (number, time, values), each once, and stops. WaitForCycles
// waits until the cycles asked for are there (handling the script host's messages meanwhile), and
// ReadCycles drains the cycles that came since the last call, oldest first, as a 2-D array that
// JScript reads through VBArray; JScript cannot pass the Lost argument by reference, so it asks
// LostCycles. The last line, "done", shows that the script ran to its end: cscript may end an
// erroneous script without a message.
var BOARD_ADDRESS = 356;  // status port of the board (0x164)
var INTERVAL_MS = 250;    // sampling interval, milliseconds
var CHANNELS = 4;         // 1, 4 or 8
var CYCLES = 5;           // cycles to print

function twoDigits(n) { return (n < 10 ? "0" : "") + n; }

// hh:mm:ss.fff of a cycle's time, which carries the milliseconds.
function timeText(t) {
    var d = new Date(t);
    var ms = d.getMilliseconds();
    return twoDigits(d.getHours()) + ":" + twoDigits(d.getMinutes()) + ":" + twoDigits(d.getSeconds()) +
           "." + (ms < 100 ? "0" : "") + twoDigits(ms);
}

var vandrel = new ActiveXObject("VANDREL.VandrelCtrl.1");
vandrel.Address = BOARD_ADDRESS;
vandrel.Interval = INTERVAL_MS;
vandrel.ChannelNumber = CHANNELS;
WScript.Echo("Vandrel at port " + vandrel.Address + ", " + vandrel.ChannelNumber +
             " channels, every " + vandrel.Interval + " ms");

if (!vandrel.Start()) {
    WScript.Echo("Start failed: " + vandrel.LastErrorText);
    WScript.Quit(1);
}

// Rows are cycles: column 0 the cycle number, 1 its time, 2 onwards the channel values.
// WaitForCycles returns how many wait: 0 when none came within 40 intervals.
var printed = 0, lost = 0;
while (printed < CYCLES && vandrel.WaitForCycles(CYCLES - printed, 40 * INTERVAL_MS) > 0) {
    var rows = new VBArray(vandrel.ReadCycles(CYCLES - printed));
    if (vandrel.LostCycles > lost) {
        WScript.Echo((vandrel.LostCycles - lost) + " cycles lost: the buffer was full");
        lost = vandrel.LostCycles;
    }
    for (var row = 0; row <= rows.ubound(1); row++) {
        var values = [];
        for (var column = 2; column <= rows.ubound(2); column++) values.push(rows.getItem(row, column));
        WScript.Echo("cycle " + rows.getItem(row, 0) + " at " + timeText(rows.getItem(row, 1)) + ": " +
                     values.join(" "));
        printed++;
    }
}
if (printed < CYCLES) WScript.Echo("no data: " + vandrel.StatusText);

vandrel.Stop();
vandrel = null;
WScript.Echo("done");
