// A JScript client of the registered Vandrel control: late bound, by name, on the board at port
// 370. One line per check; the last line, "END", shows that the script ran to its end (cscript
// ends silently on an error).
var v = new ActiveXObject("VANDREL.VandrelCtrl.1");
WScript.Echo("defaults " + v.Interval + " " + v.Address + " " + v.ChannelNumber);

v.Interval = 40;
v.Address = 370;
WScript.Echo("settings " + v.Interval + " " + v.Address + " " + v.ChannelNumber);

WScript.Echo("start " + v.Start());
WScript.Echo("start again " + v.Start());

var since = new Date().getTime();
while (v.GetChnlValue(0) == 32767 && new Date().getTime() - since < 5000) {
}
var values = [];
for (var i = 0; i < v.ChannelNumber; i++) values.push(v.GetChnlValue(i));
WScript.Echo("values " + values.join(" "));
WScript.Echo("outside " + v.GetChnlValue(-1) + " " + v.GetChnlValue(8));

v.Stop();
WScript.Echo("stopped");
v = null;
WScript.Echo("END");
