// Fetches a list of requests from the test driver on loopback, sends them one after another
// over a single connectNative port (each after the previous one's last reply, IsOver 1), and
// posts every reply message back to the driver, together with each request's result text put
// together from its chunks as a bank page does (null when no reply carried text).
//
// An entry {"flow": "signFile", "tabID": T, "sign": {members}, "piece": N} runs the file
// signing of a bank page instead: NSChooseFileExt, GMUsbKeySignFileExt with the chosen file's
// token, then GetSignFileContent in pieces of N bytes until the last piece; its result text is
// the signature file's text put together from the pieces.
importScripts('config.js');  // DRIVER_URL, HOST_NAME

// The fields of a Base64 record text ("TOKEN=...||FILENAME=...").
function recordFields(base64) {
  const fields = {};
  for (const part of atob(base64).split('||')) {
    const eq = part.indexOf('=');
    fields[part.slice(0, eq)] = part.slice(eq + 1);
  }
  return fields;
}

async function drive() {
  const requests = await (await fetch(DRIVER_URL + '/requests')).json();
  const port = chrome.runtime.connectNative(HOST_NAME);
  const results = requests.map(() => []);
  const assembled = requests.map(() => null);
  let current = -1;
  let wake = null;
  let disconnect = null;
  let replies = [];

  port.onMessage.addListener((msg) => {
    if (current >= 0) results[current].push(msg);
    replies.push(msg);
    if (msg && msg.IsOver === 1 && wake) wake();
  });
  port.onDisconnect.addListener(() => {
    disconnect = chrome.runtime.lastError ? chrome.runtime.lastError.message : 'disconnected';
    if (wake) wake();
  });

  // Sends one request; resolves with its replies once the last one (IsOver 1) has come or the
  // port has closed. No deadline of its own: a page waits as long as the user takes at the PIN
  // pad, and the test driver's deadline covers a reply that never comes.
  async function send(request) {
    replies = [];
    const done = new Promise((resolve) => {
      wake = resolve;
    });
    port.postMessage(request);
    await done;
    wake = null;
    return replies;
  }

  function text(sequence) {
    let joined = null;
    for (const msg of sequence) {
      if (msg && typeof msg.responseData === 'string') joined = (joined || '') + msg.responseData;
    }
    return joined;
  }

  async function signFile(flow) {
    const chosen = text(await send({type: 'NSChooseFileExt', tabID: flow.tabID}));
    if (chosen === null) return null;
    const signing = Object.assign({type: 'GMUsbKeySignFileExt', tabID: flow.tabID,
                                   chooseFileToken: recordFields(chosen).TOKEN}, flow.sign);
    const signed = text(await send(signing));
    if (signed === null) return null;
    const token = recordFields(signed).TOKEN;
    let content = '';
    for (;;) {
      const piece = text(await send({type: 'GetSignFileContent', tabID: flow.tabID,
                                     signedFileToken: token, maxLength: flow.piece,
                                     fileOffset: content.length}));
      const m = piece === null ? null : /^MARK=(\d)\|\|CONTENT=/.exec(piece);
      if (!m) return null;
      content += piece.slice(m[0].length);
      if (m[1] === '2') return content;
    }
  }

  for (current = 0; current < requests.length && disconnect === null; current++) {
    const request = requests[current];
    assembled[current] =
        request.flow === 'signFile' ? await signFile(request) : text(await send(request));
  }
  port.disconnect();
  await fetch(DRIVER_URL + '/replies', {
    method: 'POST',
    headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({results, assembled, disconnect}),
  });
}

drive().catch((e) => fetch(DRIVER_URL + '/replies', {
  method: 'POST',
  body: JSON.stringify({results: [], disconnect: 'driver error: ' + e}),
}));
