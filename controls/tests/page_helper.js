// Scripts the page helper as a bank page does: one table of calls per mode, each reported as
// a line "name <TAB> error number <TAB> LastError <TAB> description <TAB> value" (texts
// URI-encoded). The Python side lays out the keys and judges the lines.
//   cscript //nologo page_helper.js PROGID MODE name=value...
var args = WScript.Arguments;
var progId = args(0);
var mode = args(1);
var p = {};
for (var i = 2; i < args.length; i++) {
  var at = args(i).indexOf("=");
  p[args(i).substring(0, at)] = args(i).substring(at + 1);
}

function repeat(s, n) {
  var out = "";
  while (n-- > 0) out += s;
  return out;
}

var t;
var results = {};
function run(name, call) {
  var value = "", code = 0, description = "", last;
  try {
    value = call();
  } catch (e) {
    code = e.number;
    description = e.description;
  }
  try {
    last = t.LastError;
  } catch (e) {
    last = "none";
  }
  results[name] = value;
  WScript.Echo([name, code, last, encodeURIComponent(description),
                encodeURIComponent(value === undefined ? "" : String(value))].join("\t"));
}

var tables = {
  // Every method with valid arguments against one certified key.
  main: [
    ["LastError", function () { return t.LastError; }],
    ["GetMediaID", function () { return t.GetMediaID(); }],
    ["GetPublicKey", function () { return t.GetPublicKey(); }],
    ["GetPublicKeyC", function () { return t.GetPublicKeyC(); }],
    ["GetPublicKeyNum", function () { return t.GetPublicKeyNum(); }],
    ["GetVersion", function () { return t.GetVersion(); }],
    ["GetCSPInfo", function () { return t.GetCSPInfo("ignored"); }],
    ["RegisterCert", function () { return t.RegisterCert(); }],
    ["GetCharsetList", function () { return t.GetCharsetList(); }],
    ["SetCharset", function () { return t.SetCharset("utf-8"); }],
    ["SetCharset bad", function () { return t.SetCharset("latin1"); }],
    ["LastError after a failure", function () { return t.LastError; }],
    ["GetLanguageList", function () { return t.GetLanguageList(); }],
    ["SetLanguage capitals", function () { return t.SetLanguage("EN_US"); }],
    ["LastError after a success", function () { return t.LastError; }],
    ["SetLanguage interface-only", function () { return t.SetLanguage("pl_PL"); }],
    ["SetLanguage interface-only lower case", function () { return t.SetLanguage("pl_pl"); }],
    ["SetWarningMsg", function () { return t.SetWarningMsg("\u8b66\u544a warning"); }],
    ["WarningMsg stored", function () {
      return new ActiveXObject("WScript.Shell").RegRead("HKCU\\Software\\Korvanet\\507Q2_KOBA\\WarningMsg");
    }],
    ["UnRegisterCert", function () { return t.UnRegisterCert(); }],
    ["GetLogFileContent", function () { return t.GetLogFileContent(p.serial, 5); }],
    ["ClearSSLState", function () { return t.ClearSSLState(); }]
  ],
  // Texts no page should send, and a version value that is not there.
  bad: [
    ["outside the ANSI code page", function () { return t.GetLogFileContent("\u4e2d\u6587", 5); }],
    ["unpaired surrogate", function () { return t.SetCharset("GBK\uD800"); }],
    ["null", function () { return t.SetCharset(null); }],
    ["over-long language", function () { return t.SetLanguage(repeat("L", 100000)); }],
    ["NUL inside the warning", function () { return t.SetWarningMsg("before\u0000after"); }],
    ["version missing", function () { return t.GetVersion(); }],
    ["LastError of the missing version", function () { return t.LastError; }],
    ["still working", function () { return t.GetMediaID(); }]
  ],
  // Two keys inserted: every method that finds the key answers -104.
  twokeys: [
    ["GetMediaID", function () { return t.GetMediaID(); }],
    ["GetPublicKey", function () { return t.GetPublicKey(); }],
    ["GetPublicKeyC", function () { return t.GetPublicKeyC(); }],
    ["GetPublicKeyNum", function () { return t.GetPublicKeyNum(); }],
    ["RegisterCert", function () { return t.RegisterCert(); }],
    ["CustInitCard", function () { return t.CustInitCard(); }],
    ["ChangePin", function () { return t.ChangePin(); }],
    ["GetCharsetList", function () { return t.GetCharsetList(); }],
    ["SetCharset", function () { return t.SetCharset("GBK"); }],
    ["GetLanguageList", function () { return t.GetLanguageList(); }],
    ["SetLanguage", function () { return t.SetLanguage("en_US"); }],
    ["UnRegisterCert", function () { return t.UnRegisterCert(); }]
  ],
  // The token library missing from the system folder.
  nolibrary: [
    ["GetMediaID", function () { return t.GetMediaID(); }],
    ["ClearSSLState", function () { return t.ClearSSLState(); }],
    ["GetCSPInfo", function () { return t.GetCSPInfo(""); }]
  ]
};

try {
  t = new ActiveXObject(progId);
  var table = tables[mode];
  for (var r = 0; r < table.length; r++) run(table[r][0], table[r][1]);
  WScript.Quit(0);
} catch (e) {
  WScript.Echo("script failed\t" + e.number + "\t" + e.description);
  WScript.Quit(1);
}
