// The host's rows for file signing: choosing a file, registering a named one, signing the
// file of a token into a ".sig" file and handing the signature back in pieces.
#pragma once

#include <memory>

#include "csp.h"
#include "dispatcher.h"
#include "file_signing.h"
#include "token_core.h"

namespace koba::host {

// The chosen files, the failure counter and the last signed file, shared by the rows below for
// the life of the host process.
using FileState = std::shared_ptr<core::FileSigningState>;

Action GMUsbKeySignFileAction(core::TokenCore& core, csp::CspInterface& csp);
Action NSChooseFileAction();
Action NSFileToTokenExtAction(core::TokenCore& core, const FileState& files);
Action NSChooseFileExtAction(core::TokenCore& core, const FileState& files);
Action GMUsbKeySignFileExtAction(core::TokenCore& core, csp::CspInterface& csp,
                                 const FileState& files);
Action GetSignFileContentAction(const FileState& files);

}  // namespace koba::host
