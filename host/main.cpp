// koba.chrome.KVN.NativeHost: the Chrome and Edge native-messaging host. The browser starts one
// process per extension connection and talks to it over standard input and output.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "actions.h"
#include "loop.h"

int main() {
  koba::core::TokenCore core;
  const koba::host::ActionTable table = koba::host::BuildActionTable(core, koba::csp::SystemCsp());
  // Every byte of a frame reaches the browser at once, and no CR/LF translation touches the
  // length bytes or the payload.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  return koba::host::RunHost(stdin, stdout, table);
}
