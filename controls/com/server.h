// What one in-process server tells the shared COM plumbing about itself: its identities, as
// registered and as its type library declares them, and how its object is made.
#pragma once

#include <unknwn.h>
#include <windows.h>

namespace koba::com {

struct ServerIdentity {
  CLSID clsid;
  IID iid;  // the dual interface
  GUID libid;
  WORD typelib_major;
  WORD typelib_minor;
  GUID appid;
  const wchar_t* appid_name;  // also names the "<name>.DLL" entry under AppID
  const wchar_t* class_name;  // the help string of the coclass, default value of its keys
  const wchar_t* prog_id;
  const wchar_t* version_independent_prog_id;
};

// Defined once by each server.
const ServerIdentity& ThisServer();
// Creates the server's object, aggregated when `outer` is not null (then `iid` is IUnknown).
HRESULT CreateServerObject(IUnknown* outer, REFIID iid, void** out);

}  // namespace koba::com
