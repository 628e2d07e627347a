// Drives quillmark.dll the way a page script does: created by its ProgID,
// called by name. Run by cscript under wine after regsvr32; the signer's
// certificate and key are in the MY store, its certificate in AddressBook.
//
//   cscript //nologo com_server.js "<signer DN>"
//
// Prints "ok: ..." or "FAIL: ..." per check and the attached signature on one
// line "SIGNATURE <base64>", for the driver to verify with openssl; exits 1
// when a check failed.
var failures = 0;

function check(condition, what) {
  WScript.Echo((condition ? "ok: " : "FAIL: ") + what);
  if (!condition) failures++;
}

function oneLine(text) {
  return String(text).replace(/[\r\n]/g, "");
}

var signerDN = WScript.Arguments.length > 0 ? WScript.Arguments.Item(0) : "";
var q = new ActiveXObject("Quillmark.LydraCorvaneQuillmark2");
check(q.getVersion() == "2.1.0.0", "getVersion is 2.1.0.0");

// Base64 in UTF-8 and in GBK: the same two characters, different bytes.
var chinese = "\u4e2d\u6587";
q.QMSetCodePage(65001);
var utf8 = q.QMBase64Encode(chinese);
check(oneLine(utf8) == "5Lit5paH", "Base64 of UTF-8 text: " + oneLine(utf8));
check(q.QMBase64Decode(utf8) == chinese, "Base64 decode in code page 65001");
q.QMSetCodePage(936);
var gbk = q.QMBase64Encode(chinese);
check(oneLine(gbk) == "1tDOxA==", "Base64 of GBK text: " + oneLine(gbk));
check(q.QMBase64Decode("1tDOxA==") == chinese, "Base64 decode in code page 936");
check(q.errorNum == 0, "errorNum 0 after success");

// The outgoing plain text is not the received one: before any verification
// there is nothing received.
q.QMSetPlainText("hello from cscript");
check(q.errorNum == 0, "QMSetPlainText");
check(q.QMGetPlainText() == "", "nothing received yet");

// Attached signature by the signer in MY, without the chooser.
q.QMServerMode = 1;
q.QMSetPlainText("signed under wine");
var signature = q.QMAttachedSign(signerDN);
check(q.errorNum == 0, "QMAttachedSign errorNum " + q.errorNum + " " + q.errMsg);
check(oneLine(signature).length > 100, "a signature came back");
WScript.Echo("SIGNATURE " + oneLine(signature));
var subject = q.QMGetSignerCertInfo(1);
check(subject.indexOf("Quillmark Wine Signer") >= 0, "signer subject: " + subject);

q.QMAttachedVerify(signature);
check(q.errorNum == 0, "QMAttachedVerify errorNum " + q.errorNum + " " + q.errMsg);
check(q.QMGetPlainText() == "signed under wine", "verified content is the signed text");

// An envelope for the same certificate as recipient, in 3DES so that openssl
// opens it (its decryption refuses the RC4 form Windows writes).
q.QMSetSymmetryArithmetic("1.2.840.113549.3.7");
check(q.errorNum == 0, "QMSetSymmetryArithmetic 3DES");
q.QMSetPlainText("sealed under wine");
var envelope = q.QMEncryptedEnvelop(signerDN);
check(q.errorNum == 0, "QMEncryptedEnvelop errorNum " + q.errorNum + " " + q.errMsg);
check(oneLine(envelope).length > 100, "an envelope came back");
WScript.Echo("ENVELOPE " + oneLine(envelope));

// A failure is told through errorNum and errMsg.
q.QMAttachedVerify("MIIB");
check(q.errorNum != 0, "errorNum after a bad signature: " + q.errorNum);
check(q.errMsg.length > 0, "errMsg after a bad signature");

// errorNum can only be read: the put fails in the dispatch layer and throws.
var refused = false;
try {
  q.errorNum = 5;
} catch (e) {
  refused = true;
}
check(refused, "errorNum = 5 throws");

WScript.Quit(failures == 0 ? 0 : 1);
