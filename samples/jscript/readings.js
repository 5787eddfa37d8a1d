// Reads a board through the Vandrel control from JScript.
// Run: cscript //nologo readings.js
// Use the cscript of the control's bitness: on 64-bit Windows C:\Windows\System32\cscript.exe for
// the 64-bit control, C:\Windows\SysWOW64\cscript.exe for the 32-bit one.
//
// Sets the board's status port, the sampling interval and the channel count, starts sampling,
// prints five readings one interval apart and stops. The last line, "done", shows that the script
// ran to its end: cscript may end an erroneous script without a message.
var BOARD_ADDRESS = 356;  // status port of the board (0x164)
var INTERVAL_MS = 250;    // sampling interval, milliseconds
var CHANNELS = 4;         // 1, 4 or 8
var NO_VALUE = 32767;     // what GetChnlValue returns for a bad index or a stale reading

// Waits without WScript.Sleep, which not every script host offers.
function waitMs(ms) {
    var until = new Date().getTime() + ms;
    while (new Date().getTime() < until) {
    }
}

var vandrel = new ActiveXObject("VANDREL.VandrelCtrl.1");
vandrel.Address = BOARD_ADDRESS;
vandrel.Interval = INTERVAL_MS;
vandrel.ChannelNumber = CHANNELS;
WScript.Echo("Vandrel at port " + vandrel.Address + ", " + vandrel.ChannelNumber +
             " channels, every " + vandrel.Interval + " ms");

if (!vandrel.Start()) {
    WScript.Echo("Start failed");
    WScript.Quit(1);
}

// Until the first cycle has been read, every channel reads 32767.
var giveUp = new Date().getTime() + 20 * INTERVAL_MS;
while (vandrel.GetChnlValue(0) == NO_VALUE && new Date().getTime() < giveUp) {
    waitMs(10);
}

for (var reading = 1; reading <= 5; reading++) {
    var values = [];
    for (var channel = 0; channel < vandrel.ChannelNumber; channel++) {
        values.push(vandrel.GetChnlValue(channel));
    }
    WScript.Echo("reading " + reading + ": " + values.join(" "));
    waitMs(INTERVAL_MS);
}

vandrel.Stop();
vandrel = null;
WScript.Echo("done");
