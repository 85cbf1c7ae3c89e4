// Fetches a list of requests from the test driver on loopback, sends them one after another
// over a single connectNative port (each after the previous one's last reply, IsOver 1), and
// posts every reply message back to the driver, together with each request's result text put
// together from its chunks as a bank page does (null when no reply carried text).
importScripts('config.js');  // DRIVER_URL, HOST_NAME, REPLY_TIMEOUT_MS

async function drive() {
  const requests = await (await fetch(DRIVER_URL + '/requests')).json();
  const port = chrome.runtime.connectNative(HOST_NAME);
  const results = requests.map(() => []);
  const assembled = requests.map(() => null);
  let current = -1;
  let wake = null;
  let disconnect = null;

  port.onMessage.addListener((msg) => {
    if (current >= 0) {
      results[current].push(msg);
      if (msg && typeof msg.responseData === 'string') {
        assembled[current] = (assembled[current] || '') + msg.responseData;
      }
    }
    if (msg && msg.IsOver === 1 && wake) wake();
  });
  port.onDisconnect.addListener(() => {
    disconnect = chrome.runtime.lastError ? chrome.runtime.lastError.message : 'disconnected';
    if (wake) wake();
  });

  for (current = 0; current < requests.length && disconnect === null; current++) {
    const done = new Promise((resolve) => {
      wake = resolve;
      setTimeout(resolve, REPLY_TIMEOUT_MS);
    });
    port.postMessage(requests[current]);
    await done;
    wake = null;
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
