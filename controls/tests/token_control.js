// Scripts the token control as a bank page does: one table of calls per mode, each reported as
// a line "name <TAB> error number <TAB> LastError <TAB> description <TAB> value" (texts
// URI-encoded). The Python side lays out the keys and judges the lines.
//   cscript //nologo token_control.js PROGID MODE name=value...
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

// The page decodes the Base64 records it receives to read their tokens.
function base64Text(text) {
  var alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  var out = "", bits = 0, value = 0;
  for (var i = 0; i < text.length && text.charAt(i) != "="; i++) {
    value = (value << 6) | alphabet.indexOf(text.charAt(i));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += String.fromCharCode((value >> bits) & 0xFF);
    }
  }
  return out;
}

function field(record, name) {
  var parts = record.split("||");
  for (var i = 0; i < parts.length; i++) {
    if (parts[i].indexOf(name + "=") == 0) return parts[i].substring(name.length + 1);
  }
  return "";
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
    ["GMGetCertDN", function () { return t.GMGetCertDN(); }],
    ["GMGetPublicKey", function () { return t.GMGetPublicKey("AllPubKey"); }],
    ["GMGetPublicKey empty", function () { return t.GMGetPublicKey(""); }],
    ["LastError after a failure", function () { return t.LastError; }],
    ["GMGetAdminKeyInfo", function () { return t.GMGetAdminKeyInfo(); }],
    ["GetDriverVersion", function () { return t.GetDriverVersion(); }],
    ["GetCharsetList", function () { return t.GetCharsetList(); }],
    ["SetCharset", function () { return t.SetCharset("utf-8"); }],
    ["SetCharset bad", function () { return t.SetCharset("latin1"); }],
    ["GetLanguageList", function () { return t.GetLanguageList(); }],
    ["SetLanguage", function () { return t.SetLanguage("pl_PL"); }],
    ["SetWarningMsg", function () { return t.SetWarningMsg("\u8b66\u544a warning"); }],
    ["GMGetPKCS7", function () { return t.GMGetPKCS7(); }],
    ["GMJudgeAndDelOlderDN", function () { return t.GMJudgeAndDelOlderDN(); }],
    ["GMCreatePKCS10 bad", function () { return t.GMCreatePKCS10("no request here"); }],
    ["GMWritePKCS7 bad", function () { return t.GMWritePKCS7("not a PKCS#7 text"); }],
    ["GMDelTempKey empty", function () { return t.GMDelTempKey("", ""); }],
    ["GMGetPublicKeyC bad type", function () { return t.GMGetPublicKeyC("Nothing", "", ""); }],
    ["GMUsbKeySign", function () {
      return t.GMUsbKeySign(p.dn, "SHA256", p.xml, p.keyInfo, "");
    }],
    ["LastError after a success", function () { return t.LastError; }],
    ["NSFileToTokenExt", function () { return t.NSFileToTokenExt(p.file); }],
    ["GMUsbKeySignFileExt", function () {
      var token = field(base64Text(results["NSFileToTokenExt"]), "TOKEN");
      return t.GMUsbKeySignFileExt(p.dn, "SHA256", p.xml, p.keyInfo, token);
    }],
    ["GetSignFileContent", function () {
      var token = field(base64Text(results["GMUsbKeySignFileExt"]), "TOKEN");
      return t.GetSignFileContent(token, 100000000, 0);
    }],
    ["GetSignFileContent negative length", function () {
      var token = field(base64Text(results["GMUsbKeySignFileExt"]), "TOKEN");
      return t.GetSignFileContent(token, -1, 0);
    }],
    ["GetSignFileContent negative offset", function () {
      var token = field(base64Text(results["GMUsbKeySignFileExt"]), "TOKEN");
      return t.GetSignFileContent(token, 10, -5);
    }],
    ["GetSignFileContent huge offset", function () {
      var token = field(base64Text(results["GMUsbKeySignFileExt"]), "TOKEN");
      return t.GetSignFileContent(token, 2147483647, 2147483647);
    }],
    ["GetSignFileContent other token", function () {
      return t.GetSignFileContent(repeat("A", 64), 1000, 0);
    }],
    ["UnRegisterCert", function () { return t.UnRegisterCert(); }],
    ["GetLogFileContent", function () { return t.GetLogFileContent(p.serial, 5); }],
    ["ClearSSLState", function () { return t.ClearSSLState(); }]
  ],
  // Texts no page should send: each gets a clear code, and the control goes on working.
  bad: [
    ["unpaired surrogate", function () { return t.GMGetPublicKey("AllPub\uD800Key"); }],
    ["outside the ANSI code page", function () { return t.GetLogFileContent("\u4e2d\u6587", 5); }],
    ["null", function () { return t.GMGetPublicKey(null); }],
    ["empty type", function () { return t.GMGetPublicKey(""); }],
    ["over-long key type", function () { return t.GMGetPublicKey(repeat("A", 100000)); }],
    ["over-long DN", function () { return t.GMGetPublicKeyC("AllPubKey", repeat("D", 100000), ""); }],
    ["over-long path", function () { return t.NSFileToTokenExt("C:\\" + repeat("p", 5000)); }],
    ["over-long warning", function () { return t.SetWarningMsg(repeat("w", 5000)); }],
    ["surrogate in the transaction", function () {
      return t.GMUsbKeySign(p.dn, "SHA256", "<T>\uDC00</T>", p.keyInfo, "");
    }],
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
    ["UnRegisterCert", function () { return t.UnRegisterCert(); }],
    ["GMWritePKCS7", function () { return t.GMWritePKCS7(p.reply); }],
    ["GMGetAdminKeyInfo", function () { return t.GMGetAdminKeyInfo(); }],
    ["GMUsbKeySign", function () { return t.GMUsbKeySign(p.dn, "SHA256", p.xml, p.keyInfo, ""); }],
    ["GMGetCertDN", function () { return t.GMGetCertDN(); }],
    ["GMGetPublicKey", function () { return t.GMGetPublicKey("AllPubKey"); }],
    ["GMDelTempKey", function () { return t.GMDelTempKey(p.dn, ""); }],
    ["GMUsbKeySignFile", function () {
      return t.GMUsbKeySignFile(p.dn, "SHA256", p.xml, p.keyInfo, p.file, p.file + ".p7");
    }],
    ["GMGetPKCS7", function () { return t.GMGetPKCS7(); }],
    ["GMJudgeAndDelOlderDN", function () { return t.GMJudgeAndDelOlderDN(); }],
    ["NSFileToTokenExt", function () { return t.NSFileToTokenExt(p.file); }]
  ],
  // A vendor library without a valid signature: the signature-checked methods refuse, the
  // others work, and the refusal leaves LastError as it was.
  guard: [
    ["GetMediaID", function () { return t.GetMediaID(); }],
    ["GMGetPublicKey", function () { return t.GMGetPublicKey("AllPubKey"); }],
    ["GMGetPublicKeyC", function () { return t.GMGetPublicKeyC("AllPubKey", p.dn, ""); }],
    ["GMCreatePKCS10", function () { return t.GMCreatePKCS10(p.request); }],
    ["GMWritePKCS7", function () { return t.GMWritePKCS7(p.reply); }],
    ["GMUsbKeySign", function () { return t.GMUsbKeySign(p.dn, "SHA256", p.xml, p.keyInfo, ""); }],
    ["GMUsbKeySignFile", function () {
      return t.GMUsbKeySignFile(p.dn, "SHA256", p.xml, p.keyInfo, p.file, "");
    }],
    ["GMDelTempKey", function () { return t.GMDelTempKey(p.dn, ""); }],
    ["GMGetCertDN", function () { return t.GMGetCertDN(); }]
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
